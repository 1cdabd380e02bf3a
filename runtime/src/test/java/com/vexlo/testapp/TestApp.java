package com.vexlo.testapp;

import com.vexlo.runtime.VexloRuntime;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;

/** The application the launcher tests start; the first argument picks what it does. */
public final class TestApp {

    public static void main(String[] args) throws Exception {
        switch (args[0]) {
            case "echo":
                for (int i = 1; i < args.length; i++) {
                    System.out.println("arg[" + (i - 1) + "]=" + args[i]);
                }
                System.err.println("err line");
                break;
            case "throw":
                throw new AppFailure(args[1]);
            case "runtime":
                System.out.println(VexloRuntime.isService() + "|" + VexloRuntime.getExecutablePath() + "|"
                        + VexloRuntime.getTempDirectory() + "|" + VexloRuntime.getSemaphoreName());
                break;
            case "service": {
                // args: marker file, "hang" for a shutdown hook that never ends
                final String marker = args[1];
                final boolean hang = args.length > 2 && "hang".equals(args[2]);
                Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                    mark(marker, "hook started");
                    if (hang) {
                        sleepForever();
                    }
                    mark(marker, "hook ran");
                }));
                System.out.println("stdin:" + System.in.read());
                System.out.println("ready");
                sleepForever();
                break;
            }
            case "lines": {
                // args: count, width; numbered lines, the odd ones on standard error
                int width = Integer.parseInt(args[2]);
                for (int i = 0; i < Integer.parseInt(args[1]); i++) {
                    StringBuilder line = new StringBuilder(String.format("%08d ", i));
                    while (line.length() < width) {
                        line.append((char) ('a' + line.length() % 26));
                    }
                    (i % 2 == 0 ? System.out : System.err).println(line);
                }
                break;
            }
            case "thread":
                new Thread(() -> {
                    try {
                        Thread.sleep(500);
                    } catch (InterruptedException e) {
                        return;
                    }
                    System.out.println("late");
                }).start();
                System.out.println("main returns");
                break;
            default:
                throw new IllegalArgumentException(args[0]);
        }
    }

    static void mark(String file, String text) {
        try {
            Files.write(Paths.get(file), (text + "\n").getBytes(StandardCharsets.UTF_8),
                    StandardOpenOption.CREATE, StandardOpenOption.APPEND);
        } catch (IOException e) {
            throw new RuntimeException(e);
        }
    }

    static void sleepForever() {
        try {
            Thread.sleep(Long.MAX_VALUE);
        } catch (InterruptedException ignored) {
            // ends the sleep
        }
    }

    static final class AppFailure extends Exception {
        private static final long serialVersionUID = 1L;

        AppFailure(String message) {
            super(message);
        }
    }
}
