package hostjvm.probe;

import java.io.BufferedReader;
import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.InputStreamReader;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.time.Duration;
import java.time.Instant;

/**
 * An application that reports what it was given, one line per fact, in UTF-8 on standard output.
 * Each argument is printed; arguments starting with "--" also ask for something:
 * --prop=NAME, --maxmem, --read (a line from standard input), --load=CLASS, --throw, --exit=N (from a
 * non-daemon thread), --sysout=TEXT and --syserr=TEXT (through System.out and System.err, which the runtime
 * may have redirected), --work=MS (how long the worker runs), --hang-hook (a shutdown hook that never ends). A non-daemon worker always prints
 * "worker: done" after main has returned.
 */
public final class Probe {
    public static void main(String[] args) throws Exception {
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        Instant started = ProcessHandle.current().info().startInstant().orElse(null);
        if (started != null)
            out.println("timing: process start to main " + Duration.between(started, Instant.now()).toMillis() + " ms");
        int exitCode = -1;
        long workMs = 300;
        boolean fail = false;
        for (int i = 0; i < args.length; i++) {
            String arg = args[i];
            out.println("arg[" + i + "]=" + arg);
            if (arg.startsWith("--prop=")) {
                String name = arg.substring(7);
                out.println("prop " + name + "=" + System.getProperty(name));
            } else if (arg.equals("--maxmem")) {
                out.println("maxMemory=" + Runtime.getRuntime().maxMemory());
            } else if (arg.equals("--read")) {
                BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
                out.println("read: [" + in.readLine() + "]");
            } else if (arg.startsWith("--load=")) {
                Class<?> c = Class.forName(arg.substring(7));
                out.println("loaded " + c.getName() + ": " + c.getMethod("describe").invoke(null));
            } else if (arg.equals("--throw")) {
                fail = true;
            } else if (arg.startsWith("--exit=")) {
                exitCode = Integer.parseInt(arg.substring(7));
            } else if (arg.startsWith("--sysout=")) {
                System.out.println(arg.substring(9));
            } else if (arg.startsWith("--syserr=")) {
                System.err.println(arg.substring(9));
            } else if (arg.equals("--hang-hook")) {
                Runtime.getRuntime().addShutdownHook(new Thread(() -> {
                    out.println("hook: hangs");
                    while (true) {
                        try {
                            Thread.sleep(60000);
                        } catch (InterruptedException e) {
                            // keeps hanging
                        }
                    }
                }, "probe-hanging-hook"));
            } else if (arg.startsWith("--syslines=")) {
                // Numbered lines of 100 bytes each on System.out.
                StringBuilder pad = new StringBuilder();
                while (pad.length() < 86) pad.append('x');
                for (int n = 0, count = Integer.parseInt(arg.substring(11)); n < count; n++)
                    System.out.println(String.format("line %07d ", n) + pad);
            } else if (arg.startsWith("--work=")) {
                workMs = Long.parseLong(arg.substring(7));
            }
        }
        final int code = exitCode;
        final long work = workMs;
        Thread worker = new Thread(() -> {
            try {
                Thread.sleep(work);
            } catch (InterruptedException e) {
                return;
            }
            out.println("worker: done");
            if (code >= 0) System.exit(code);
        }, "probe-worker");
        worker.setDaemon(false);
        worker.start();
        out.println("main: returns");
        if (fail) throw new IllegalStateException("probe failed on purpose");
    }
}
