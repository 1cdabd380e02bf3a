package com.vexlo.runtime;

import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;
import java.util.Locale;

/** Points System.out and System.err at the configured files, which may rotate by size or by day. */
final class OutputRedirection {

    static final String ROTATE_PROPERTY = "vexlo.output.rotate";
    static final String MAX_SIZE_PROPERTY = "vexlo.output.maxSize";
    static final String KEEP_PROPERTY = "vexlo.output.keep";
    static final long DEFAULT_MAX_SIZE = 10L * 1024 * 1024;
    static final int DEFAULT_KEEP = 5;

    private OutputRedirection() {
    }

    /**
     * Empty paths leave a stream alone. A file that cannot be opened is reported on the original standard error
     * and that stream stays as it was: losing the log is better than not starting the service.
     */
    static void apply(String outPath, String errPath, boolean append) {
        PrintStream originalErr = System.err;
        PrintStream out = outPath.isEmpty() ? null : open(outPath, append, originalErr, "output");
        PrintStream err = null;
        if (!errPath.isEmpty()) {
            // One file for both must be one stream: two would overwrite each other's bytes.
            err = out != null && sameFile(outPath, errPath) ? out : open(errPath, append, originalErr, "error");
        }
        if (out != null) {
            System.setOut(out);
        }
        if (err != null) {
            System.setErr(err);
        }
    }

    private static PrintStream open(String path, boolean append, PrintStream report, String what) {
        File file = new File(path);
        try {
            File parent = file.getAbsoluteFile().getParentFile();
            if (parent != null && !parent.isDirectory() && !parent.mkdirs() && !parent.isDirectory()) {
                throw new IOException("cannot create the folder " + parent);
            }
            // Unbuffered below the PrintStream, so that a halted or crashing VM loses nothing already printed.
            RotatingFileStream stream = new RotatingFileStream(file, append, mode(append, report), maxSize(report),
                    keep(report), RotatingFileStream.SYSTEM_CLOCK, RotatingFileStream.RENAME, report);
            return new PrintStream(stream, true, "UTF-8");
        } catch (IOException | SecurityException e) {
            report.println("vexlo: cannot redirect standard " + what + " to " + path + ": " + e.getMessage());
            report.flush();
            return null;
        }
    }

    /** Replaced files are not rotated unless asked: each start begins them afresh anyway. */
    static RotatingFileStream.Mode mode(boolean append, PrintStream report) {
        RotatingFileStream.Mode fallback = append ? RotatingFileStream.Mode.SIZE : RotatingFileStream.Mode.NONE;
        String value = System.getProperty(ROTATE_PROPERTY);
        if (value == null || value.isEmpty()) {
            return fallback;
        }
        for (RotatingFileStream.Mode m : RotatingFileStream.Mode.values()) {
            if (m.name().equalsIgnoreCase(value)) {
                return m;
            }
        }
        report.println("vexlo: " + ROTATE_PROPERTY + "=" + value + " is not size, daily or none; using "
                + fallback.name().toLowerCase(Locale.ROOT));
        return fallback;
    }

    static long maxSize(PrintStream report) {
        return number(MAX_SIZE_PROPERTY, DEFAULT_MAX_SIZE, 1, Long.MAX_VALUE, report);
    }

    static int keep(PrintStream report) {
        return (int) number(KEEP_PROPERTY, DEFAULT_KEEP, 0, 100000, report);
    }

    private static long number(String property, long fallback, long min, long max, PrintStream report) {
        String value = System.getProperty(property);
        if (value == null || value.isEmpty()) {
            return fallback;
        }
        try {
            long n = Long.parseLong(value.trim());
            if (n >= min && n <= max) {
                return n;
            }
        } catch (NumberFormatException ignored) {
            // reported below
        }
        report.println("vexlo: " + property + "=" + value + " is out of range; using " + fallback);
        return fallback;
    }

    private static boolean sameFile(String a, String b) {
        if (a.equals(b)) {
            return true;
        }
        try {
            return Files.isSameFile(new File(a).toPath(), new File(b).toPath());
        } catch (IOException | RuntimeException e) {
            return false;
        }
    }
}
