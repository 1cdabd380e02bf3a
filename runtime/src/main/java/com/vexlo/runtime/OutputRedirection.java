package com.vexlo.runtime;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.file.Files;

/** Points System.out and System.err at the configured files. */
final class OutputRedirection {

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
            return new PrintStream(new FileOutputStream(file, append), true, "UTF-8");
        } catch (IOException | SecurityException e) {
            report.println("vexlo: cannot redirect standard " + what + " to " + path + ": " + e.getMessage());
            report.flush();
            return null;
        }
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
