package com.vexlo.runtime;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Calendar;
import java.util.Collections;
import java.util.List;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

class RotatingFileStreamTest {

    @TempDir
    Path dir;

    private final ByteArrayOutputStream warnings = new ByteArrayOutputStream();
    private long now = time(2026, 12, 8, 10, 0);

    @ParameterizedTest
    @ValueSource(ints = {0, 3, 1000})
    void sizeRotationKeepsKeepFilesAndEveryLineOnce(int keep) throws Exception {
        PrintStream out = open(true, RotatingFileStream.Mode.SIZE, 1024, keep, RotatingFileStream.RENAME);
        List<String> written = new ArrayList<>();
        for (int i = 0; i < 400; i++) {
            // Short lines, lines printed in one chunk, and a line longer than the limit.
            String line = String.format("%05d ", i) + pad(i == 77 ? 1500 : i % 90);
            if (i % 5 == 0) {
                out.print(line + "\n" + String.format("%05d ", ++i) + "tail\n");
                written.add(line);
                written.add(String.format("%05d tail", i));
            } else {
                out.println(line);
                written.add(line);
            }
        }
        out.close();

        List<String> kept = new ArrayList<>();
        int old = 0;
        for (int n = keep + 1; n >= 1; n--) {
            File f = sibling(n);
            if (f.exists()) {
                assertTrue(n <= keep, "file " + n + " beyond keep");
                assertTrue(f.length() <= 1024 || new String(bytes(f.toPath()), StandardCharsets.UTF_8)
                        .startsWith("00077 "), "size " + f.length());
                kept.addAll(lines(f.toPath()));
                old++;
            }
        }
        kept.addAll(lines(dir.resolve("out.log")));
        assertEquals(keep == 1000 ? countRotated() : keep, old);
        // Every line once and in order: the kept ones are exactly the last lines written.
        assertEquals(written.subList(written.size() - kept.size(), written.size()), kept);
        if (keep == 1000) {
            assertEquals(written.size(), kept.size());
        }
        assertEquals("", warnings.toString("UTF-8"));
    }

    @Test
    void aLineThatReachesTheLimitKeepsItsLineEnd() throws Exception {
        PrintStream out = open(true, RotatingFileStream.Mode.SIZE, 10, 1, RotatingFileStream.RENAME);
        // Printed in pieces, so that the line end arrives after the limit is reached.
        out.print("abcde");
        out.print("fghij");
        out.println();
        out.println("k");
        out.close();
        assertEquals("abcdefghij\n", new String(bytes(dir.resolve("out.1.log")), StandardCharsets.UTF_8));
        assertEquals("k\n", new String(bytes(dir.resolve("out.log")), StandardCharsets.UTF_8));
    }

    @Test
    void dailyRotationAtTheFirstLineAfterMidnightDeletesFilesOlderThanKeepDays() throws Exception {
        write("out.2026-11-01.log", "ancient\n");
        write("out.2026-12-07.log", "kept one day\n");
        write("other.2026-11-01.log", "not ours\n");
        PrintStream out = open(true, RotatingFileStream.Mode.DAILY, 1, 2, RotatingFileStream.RENAME);
        out.println("a");
        out.print("b begins");
        now = time(2026, 12, 9, 0, 0) + 1;
        out.println(" and ends after midnight");
        out.println("c");
        assertEquals(Arrays.asList("a", "b begins and ends after midnight"), lines(dir.resolve("out.2026-12-08.log")));
        assertFalse(Files.exists(dir.resolve("out.2026-11-01.log")));
        assertTrue(Files.exists(dir.resolve("out.2026-12-07.log")));
        now = time(2026, 12, 11, 9, 30);
        out.println("d");
        out.close();
        assertEquals(Collections.singletonList("c"), lines(dir.resolve("out.2026-12-09.log")));
        assertEquals(Collections.singletonList("d"), lines(dir.resolve("out.log")));
        assertFalse(Files.exists(dir.resolve("out.2026-12-07.log")));
        assertFalse(Files.exists(dir.resolve("out.2026-12-08.log")));
        assertTrue(Files.exists(dir.resolve("other.2026-11-01.log")));
    }

    @Test
    void aFileLeftByAnEarlierDayIsRotatedUnderItsOwnDate() throws Exception {
        Path log = write("out.log", "from yesterday\n");
        log.toFile().setLastModified(time(2026, 12, 7, 23, 0));
        PrintStream out = open(true, RotatingFileStream.Mode.DAILY, 1, 5, RotatingFileStream.RENAME);
        out.println("today");
        out.close();
        assertEquals(Collections.singletonList("from yesterday"), lines(dir.resolve("out.2026-12-07.log")));
        assertEquals(Collections.singletonList("today"), lines(log));
    }

    @Test
    void anExistingFileWithTheNextNameKeepsItsLines() throws Exception {
        write("out.1.log", "stray\n");
        write("out.2026-12-08.log", "earlier today\n");
        PrintStream size = open(true, RotatingFileStream.Mode.SIZE, 8, 5, RotatingFileStream.RENAME);
        size.println("first");
        size.println("second");
        size.close();
        assertEquals(Collections.singletonList("stray"), lines(dir.resolve("out.2.log")));
        assertEquals(Collections.singletonList("first"), lines(dir.resolve("out.1.log")));
        assertEquals(Collections.singletonList("second"), lines(dir.resolve("out.log")));

        PrintStream daily = open(false, RotatingFileStream.Mode.DAILY, 1, 5, RotatingFileStream.RENAME);
        daily.println("later today");
        now = time(2026, 12, 9, 1, 0);
        daily.println("tomorrow");
        daily.close();
        assertEquals(Arrays.asList("earlier today", "later today"), lines(dir.resolve("out.2026-12-08.log")));
        assertEquals(Collections.singletonList("tomorrow"), lines(dir.resolve("out.log")));
    }

    @Test
    void aFailingRenameFallsBackToCopyAndTruncate() throws Exception {
        RotatingFileStream.Mover held = (from, to) -> {
            throw new IOException("held by a reader");
        };
        PrintStream out = open(true, RotatingFileStream.Mode.SIZE, 8, 2, held);
        for (String line : Arrays.asList("one", "two", "three", "four")) {
            out.println(line);
        }
        out.close();
        // "one" went to 1, then on to 2 by copying: nothing lost, nothing twice.
        assertEquals(Arrays.asList("one", "two"), lines(dir.resolve("out.2.log")));
        assertEquals(Collections.singletonList("three"), lines(dir.resolve("out.1.log")));
        assertEquals(Collections.singletonList("four"), lines(dir.resolve("out.log")));
        assertEquals("", warnings.toString("UTF-8"));
    }

    @Test
    void whenCopyingFailsTooWritingGoesOnWithOneWarning() throws Exception {
        // A folder where the dated file belongs can be neither renamed onto nor copied into.
        Files.createDirectories(dir.resolve("out.2026-12-08.log").resolve("x"));
        PrintStream out = open(true, RotatingFileStream.Mode.DAILY, 1, 5, RotatingFileStream.RENAME);
        out.println("a");
        for (int day = 9; day <= 10; day++) {
            now = time(2026, 12, day, 0, 0);
            out.println("b" + day);
        }
        out.close();
        assertEquals(Arrays.asList("a", "b9"), lines(dir.resolve("out.2026-12-09.log")));
        assertEquals(Collections.singletonList("b10"), lines(dir.resolve("out.log")));
        String[] warned = warnings.toString("UTF-8").split("\n");
        assertEquals(1, warned.length);
        assertTrue(warned[0].startsWith("vexlo: cannot rotate "), warned[0]);
    }

    private PrintStream open(boolean append, RotatingFileStream.Mode mode, long maxSize, int keep,
            RotatingFileStream.Mover mover) throws IOException {
        RotatingFileStream stream = new RotatingFileStream(dir.resolve("out.log").toFile(), append, mode, maxSize,
                keep, () -> now, mover, new PrintStream(warnings, true));
        return new PrintStream(stream, true, "UTF-8");
    }

    private int countRotated() {
        int n = 0;
        while (sibling(n + 1).exists()) {
            n++;
        }
        assertTrue(n > 10, "only " + n + " rotations");
        return n;
    }

    private File sibling(int n) {
        return dir.resolve("out." + n + ".log").toFile();
    }

    private Path write(String name, String text) throws IOException {
        return Files.write(dir.resolve(name), text.getBytes(StandardCharsets.UTF_8));
    }

    private static String pad(int n) {
        char[] c = new char[n];
        Arrays.fill(c, 'x');
        return new String(c);
    }

    private static byte[] bytes(Path p) throws IOException {
        return Files.readAllBytes(p);
    }

    private static List<String> lines(Path p) throws IOException {
        return Files.readAllLines(p, StandardCharsets.UTF_8);
    }

    private static long time(int year, int month, int day, int hour, int minute) {
        Calendar c = Calendar.getInstance();
        c.clear();
        c.set(year, month - 1, day, hour, minute);
        return c.getTimeInMillis();
    }
}
