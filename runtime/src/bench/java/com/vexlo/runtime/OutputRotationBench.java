package com.vexlo.runtime;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;

/**
 * Prints the cost of one println into a redirected output file: plain, and through the rotating stream with no
 * rotation, by size (1 MB, so it rotates many times during the run) and by day.
 * Usage: java -cp vexlo-runtime.jar:classes com.vexlo.runtime.OutputRotationBench [lines]
 */
public final class OutputRotationBench {

    private OutputRotationBench() {
    }

    public static void main(String[] args) throws IOException {
        int lines = args.length > 0 ? Integer.parseInt(args[0]) : 200000;
        File dir = Files.createTempDirectory("rotation-bench").toFile();
        try {
            for (int round = 0; round < 2; round++) {
                // The first round warms up the JIT; only the second is printed.
                boolean print = round == 1;
                measure("plain FileOutputStream", lines, print, new FileOutputStream(new File(dir, "plain.log")));
                for (RotatingFileStream.Mode mode : RotatingFileStream.Mode.values()) {
                    File file = new File(dir, mode.name().toLowerCase() + ".log");
                    measure("rotating, " + mode.name().toLowerCase(), lines, print, new RotatingFileStream(file,
                            false, mode, 1024 * 1024, 3, RotatingFileStream.SYSTEM_CLOCK, RotatingFileStream.RENAME,
                            System.err));
                }
            }
        } finally {
            for (File f : dir.listFiles()) {
                f.delete();
            }
            dir.delete();
        }
    }

    private static void measure(String what, int lines, boolean print, OutputStream target) throws IOException {
        PrintStream out = new PrintStream(target, true, "UTF-8");
        String text = "2026-12-09 12:00:00 INFO  a typical log line of the application, about eighty bytes";
        long start = System.nanoTime();
        for (int i = 0; i < lines; i++) {
            out.println(text);
        }
        long elapsed = System.nanoTime() - start;
        out.close();
        if (print) {
            System.out.printf("%-26s %7.0f ns per println (%d lines)%n", what, (double) elapsed / lines, lines);
        }
    }
}
