package com.vexlo.runtime;

import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.text.ParseException;
import java.text.SimpleDateFormat;
import java.util.Calendar;
import java.util.Date;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * An output file that is moved aside by size or by day. Rotation happens only between lines, so every line ends
 * up whole in exactly one file; a line longer than twice the size limit is the one exception and is split.
 * All writes and rotations hold this object's lock, so both streams of a shared file rotate it once.
 */
final class RotatingFileStream extends OutputStream {

    enum Mode { NONE, SIZE, DAILY }

    /** Milliseconds since the epoch; tests move it across midnight. */
    interface Clock {
        long now();
    }

    /** The rename step, replaceable by tests: a file held open by a reader cannot be renamed on Windows. */
    interface Mover {
        void move(Path from, Path to) throws IOException;
    }

    static final Clock SYSTEM_CLOCK = new Clock() {
        @Override
        public long now() {
            return System.currentTimeMillis();
        }
    };

    static final Mover RENAME = new Mover() {
        @Override
        public void move(Path from, Path to) throws IOException {
            Files.move(from, to, StandardCopyOption.REPLACE_EXISTING);
        }
    };

    private final File file;
    private final Mode mode;
    private final long maxSize;
    private final int keep;
    private final Clock clock;
    private final Mover mover;
    private final PrintStream warnings;
    private final String stem;
    private final String extension;

    private FileOutputStream out;
    private long size;
    private boolean atLineStart = true;
    /** DAILY: the start of the day after the one the current file's lines belong to. */
    private long nextMidnight;
    private long periodStart;
    private boolean warned;

    RotatingFileStream(File file, boolean append, Mode mode, long maxSize, int keep, Clock clock, Mover mover,
            PrintStream warnings) throws IOException {
        this.file = file.getAbsoluteFile();
        this.mode = mode;
        this.maxSize = Math.max(1, maxSize);
        this.keep = Math.max(0, keep);
        this.clock = clock;
        this.mover = mover;
        this.warnings = warnings;
        String name = this.file.getName();
        int dot = name.lastIndexOf('.');
        this.stem = dot > 0 ? name.substring(0, dot) : name;
        this.extension = dot > 0 ? name.substring(dot) : "";
        boolean existing = append && this.file.length() > 0;
        // Lines kept from an earlier run belong to the day they were written, not to today.
        periodStart = startOfDay(existing ? this.file.lastModified() : clock.now());
        nextMidnight = addDays(periodStart, 1);
        out = new FileOutputStream(this.file, append);
        size = existing ? this.file.length() : 0;
    }

    @Override
    public void write(int b) throws IOException {
        write(new byte[] {(byte) b}, 0, 1);
    }

    @Override
    public synchronized void write(byte[] b, int off, int len) throws IOException {
        while (len > 0) {
            int n = len;
            if (mode == Mode.DAILY && atLineStart && clock.now() >= nextMidnight) {
                rotateDaily();
            } else if (mode == Mode.SIZE && size + len > maxSize) {
                n = sizeSegment(b, off, len);
            }
            if (n > 0) {
                out.write(b, off, n);
                size += n;
                atLineStart = b[off + n - 1] == '\n';
                off += n;
                len -= n;
            }
        }
    }

    /** How much of the chunk to write now: whole lines up to the limit, rotating when not even one fits. */
    private int sizeSegment(byte[] b, int off, int len) throws IOException {
        int room = (int) Math.max(0, Math.min(len, maxSize - size));
        for (int i = room - 1; i >= 0; i--) {
            if (b[off + i] == '\n') {
                return i + 1;
            }
        }
        if (size > 0 && (atLineStart || size >= 2 * maxSize)) {
            rotateBySize();
            // A failed rotation starts counting afresh; a file someone else refilled takes the chunk as it is.
            return size > 0 ? len : 0;
        }
        // An empty file or the middle of a line: finish that line, the loop then comes back at a line start.
        for (int i = 0; i < len; i++) {
            if (b[off + i] == '\n') {
                return i + 1;
            }
        }
        return len;
    }

    @Override
    public synchronized void flush() throws IOException {
        out.flush();
    }

    @Override
    public synchronized void close() throws IOException {
        out.close();
    }

    File sibling(String middle) {
        return new File(file.getParentFile(), stem + "." + middle + extension);
    }

    private void rotateBySize() throws IOException {
        File oldest = sibling(Integer.toString(keep));
        if (keep > 0 && oldest.exists()) {
            // A held oldest file is replaced by the shift below, or stays one rotation longer.
            oldest.delete();
        }
        for (int i = keep - 1; i >= 1; i--) {
            File from = sibling(Integer.toString(i));
            if (from.exists()) {
                tryMove(from, sibling(Integer.toString(i + 1)));
            }
        }
        if (keep == 0) {
            truncate();
        } else {
            moveCurrent(sibling("1"));
        }
        deleteMatching(Pattern.compile(Pattern.quote(stem) + "\\.(\\d+)" + Pattern.quote(extension)), false);
    }

    private void rotateDaily() throws IOException {
        long now = clock.now();
        if (size > 0) {
            moveCurrent(sibling(dateFormat().format(new Date(periodStart))));
        }
        periodStart = startOfDay(now);
        nextMidnight = addDays(periodStart, 1);
        deleteMatching(Pattern.compile(Pattern.quote(stem) + "\\.(\\d{4}-\\d{2}-\\d{2})" + Pattern.quote(extension)),
                true);
    }

    /**
     * Moves the current file to the target and starts an empty one. When the rename fails, the content is copied
     * (appended, when a file of the day already has that name) and the current file truncated; when that fails
     * too, writing goes on into the current file and one line on standard error says so.
     */
    private void moveCurrent(File target) throws IOException {
        // A file of the same day takes the new lines at its end; a numbered one must have been shifted away.
        boolean occupied = target.exists() && (mode == Mode.DAILY || target.length() > 0);
        if (occupied && mode == Mode.SIZE) {
            // Overwriting an older file that could not be shifted would lose its lines.
            warnOnce(target, "it exists and could not be moved");
            size = 0;
            return;
        }
        out.close();
        boolean moved = false;
        if (!occupied) {
            try {
                mover.move(file.toPath(), target.toPath());
                moved = true;
            } catch (IOException | RuntimeException e) {
                moved = false;
            }
        }
        out = new FileOutputStream(file, true);
        if (moved) {
            // The reopened file is new unless another writer recreated it.
            size = file.length();
            return;
        }
        try {
            copyInto(target, occupied);
            truncate();
        } catch (IOException | RuntimeException e) {
            warnOnce(target, String.valueOf(e.getMessage()));
            // Try again at the next limit rather than on every line.
            size = 0;
        }
    }

    private void warnOnce(File target, String reason) {
        if (!warned) {
            warned = true;
            warnings.println("vexlo: cannot rotate " + file + " to " + target.getName() + " (" + reason
                    + "); writing on in the current file");
            warnings.flush();
        }
    }

    private void copyInto(File target, boolean appendToTarget) throws IOException {
        out.flush();
        long before = appendToTarget ? target.length() : 0;
        try (InputStream in = new FileInputStream(file);
                FileOutputStream to = new FileOutputStream(target, appendToTarget)) {
            try {
                byte[] buffer = new byte[64 * 1024];
                int n;
                while ((n = in.read(buffer)) > 0) {
                    to.write(buffer, 0, n);
                }
            } catch (IOException e) {
                // A half copy would repeat lines that stay in the current file.
                to.getChannel().truncate(before);
                throw e;
            }
        }
    }

    private void truncate() throws IOException {
        out.getChannel().truncate(0);
        size = 0;
    }

    private void tryMove(File from, File to) {
        try {
            mover.move(from.toPath(), to.toPath());
        } catch (IOException | RuntimeException e) {
            try {
                // A held old file: its lines go on under the next number, its own name is taken over next.
                Files.copy(from.toPath(), to.toPath(), StandardCopyOption.REPLACE_EXISTING);
                new FileOutputStream(from).close();
            } catch (IOException | RuntimeException e2) {
                // It keeps its number; rotating onto it is refused, so nothing is overwritten.
            }
        }
    }

    /** Deletes numbered files beyond keep, or dated files older than keep days. */
    private void deleteMatching(Pattern pattern, boolean dated) {
        String[] names = file.getParentFile().list();
        if (names == null) {
            return;
        }
        long oldestKept = addDays(periodStart, -keep);
        for (String name : names) {
            Matcher m = pattern.matcher(name);
            if (!m.matches()) {
                continue;
            }
            boolean old;
            if (dated) {
                try {
                    old = dateFormat().parse(m.group(1)).getTime() < oldestKept;
                } catch (ParseException e) {
                    old = false;
                }
            } else {
                old = m.group(1).length() > 9 || Integer.parseInt(m.group(1)) > keep;
            }
            if (old) {
                new File(file.getParentFile(), name).delete();
            }
        }
    }

    private static SimpleDateFormat dateFormat() {
        SimpleDateFormat format = new SimpleDateFormat("yyyy-MM-dd");
        format.setLenient(false);
        return format;
    }

    private static long startOfDay(long millis) {
        Calendar c = Calendar.getInstance();
        c.setTimeInMillis(millis);
        c.set(Calendar.HOUR_OF_DAY, 0);
        c.set(Calendar.MINUTE, 0);
        c.set(Calendar.SECOND, 0);
        c.set(Calendar.MILLISECOND, 0);
        return c.getTimeInMillis();
    }

    private static long addDays(long dayStart, int days) {
        Calendar c = Calendar.getInstance();
        c.setTimeInMillis(dayStart);
        c.add(Calendar.DAY_OF_MONTH, days);
        return c.getTimeInMillis();
    }
}
