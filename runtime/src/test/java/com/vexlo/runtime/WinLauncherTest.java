package com.vexlo.runtime;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;

import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/** Starts WinLauncher in a fresh JVM per test, as the native launcher would, with the test application. */
class WinLauncherTest {

    private static final String JAR = System.getProperty("vexlo.runtime.jar");
    private static final String APPS = System.getProperty("vexlo.test.apps");
    private static final String MODULES = System.getProperty("vexlo.test.modules");
    private static final String APP = "com.vexlo.testapp.TestApp";
    private static final String PROGRAM = "C:\\Program Files\\App\\app.exe";

    @TempDir
    Path dir;

    @Test
    void argumentsArriveInOrderAndUnchanged() throws Exception {
        Path out = dir.resolve("out.txt");
        Result r = run(none(), APP, out.toString(), "", false, "echo", "plain", "", "with blank",
                "\u00e4\u00f6\u00fc \u00f1", "\u65e5\u672c\u8a9e \ud83d\ude00", "-Dnot.a.property=1", "\"quoted\"");
        assertEquals(0, r.exit, r.stderr);
        assertEquals(Arrays.asList("arg[0]=plain", "arg[1]=", "arg[2]=with blank", "arg[3]=\u00e4\u00f6\u00fc \u00f1",
                "arg[4]=\u65e5\u672c\u8a9e \ud83d\ude00", "arg[5]=-Dnot.a.property=1", "arg[6]=\"quoted\""), lines(out));
    }

    @ParameterizedTest
    @ValueSource(booleans = {false, true})
    void redirectsToSeparateFilesReplacingOrAppending(boolean append) throws Exception {
        Path out = dir.resolve("new/folder/out.log");
        Path err = dir.resolve("err.log");
        Files.createDirectories(out.getParent());
        Files.write(out, "old\n".getBytes(StandardCharsets.UTF_8));
        Files.write(err, "old\n".getBytes(StandardCharsets.UTF_8));
        Result r = run(none(), APP, out.toString(), err.toString(), append, "echo", "x");
        assertEquals(0, r.exit, r.stderr);
        String kept = append ? "old\n" : "";
        assertEquals(kept + "arg[0]=x\n", read(out));
        assertEquals(kept + "err line\n", read(err));
        assertEquals("", r.stdout + r.stderr);
    }

    @Test
    void bothStreamsToOneFileShareItAndFoldersAreCreated() throws Exception {
        Path log = dir.resolve("a/b/both.log");
        Result r = run(none(), APP, log.toString(), log.toString(), false, "echo", "1", "2");
        assertEquals(0, r.exit, r.stderr);
        assertEquals(Arrays.asList("arg[0]=1", "arg[1]=2", "err line"), lines(log));
    }

    @Test
    void bothStreamsToOneFileRotateOnceAndKeepEveryLine() throws Exception {
        Path log = dir.resolve("both.log");
        Result r = run(Arrays.asList("-Dvexlo.output.maxSize=1024", "-Dvexlo.output.keep=100"), APP,
                log.toString(), log.toString(), true, "lines", "300", "40");
        assertEquals(0, r.exit, r.stderr);
        List<String> all = new ArrayList<>();
        for (int n = 100; n >= 1; n--) {
            Path old = dir.resolve("both." + n + ".log");
            if (Files.exists(old)) {
                assertTrue(Files.size(old) <= 1024 && Files.size(old) > 1024 - 41, n + ": " + Files.size(old));
                all.addAll(lines(old));
            }
        }
        all.addAll(lines(log));
        assertEquals(300, all.size());
        for (int i = 0; i < all.size(); i++) {
            assertTrue(all.get(i).startsWith(String.format("%08d ", i)), all.get(i));
        }
        // 24 lines of 41 bytes fit in 1024: twelve full files and twelve lines in the current one.
        assertTrue(Files.exists(dir.resolve("both.12.log")) && !Files.exists(dir.resolve("both.13.log")));
    }

    @Test
    void rotationSettingsThatMakeNoSenseAreReportedAndTheDefaultsUsed() throws Exception {
        Path out = dir.resolve("out.log");
        Result r = run(Arrays.asList("-Dvexlo.output.rotate=hourly", "-Dvexlo.output.maxSize=-1",
                "-Dvexlo.output.keep=x"), APP, out.toString(), "", true, "echo", "x");
        assertEquals(0, r.exit, r.stderr);
        assertEquals(Arrays.asList("vexlo: vexlo.output.rotate=hourly is not size, daily or none; using size",
                "vexlo: vexlo.output.maxSize=-1 is out of range; using 10485760",
                "vexlo: vexlo.output.keep=x is out of range; using 5", "err line"), Arrays.asList(r.stderr.split("\n")));
        assertEquals(Collections.singletonList("arg[0]=x"), lines(out));
    }

    @Test
    void consoleRunKeepsTheOriginalStreams() throws Exception {
        Path out = dir.resolve("out.log");
        Path err = dir.resolve("err.log");
        Result r = run(Collections.singletonList("-Dquandrel.noRedir=true"), APP, out.toString(), err.toString(),
                true, "echo", "x");
        assertEquals(0, r.exit, r.stderr);
        assertEquals("arg[0]=x\n", r.stdout);
        assertEquals("err line\n", r.stderr);
        assertFalse(Files.exists(out) || Files.exists(err));
    }

    @Test
    void fileThatCannotBeOpenedIsReportedAndTheLaunchGoesOn() throws Exception {
        Path err = dir.resolve("err.log");
        Result r = run(none(), APP, dir.toString(), err.toString(), false, "echo", "x");
        assertEquals(0, r.exit, r.stderr);
        assertEquals("arg[0]=x\n", r.stdout);
        assertTrue(r.stderr.startsWith("vexlo: cannot redirect standard output to " + dir), r.stderr);
        assertEquals(Collections.singletonList("err line"), lines(err));
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "com.vexlo.testapp.TestApp | throw  | Exception in thread \"main\" com.vexlo.testapp.TestApp$AppFailure: boom",
        "com.vexlo.testapp.Missing | echo   | Exception in thread \"main\" java.lang.ClassNotFoundException: "
            + "com.vexlo.testapp.Missing",
        "/no.such.module/a.B       | echo   | ClassNotFoundException: vexlo: module no.such.module is not in the boot",
    })
    void failuresEscapeAsThemselves(String mainClass, String mode, String expected) throws Exception {
        Result r = run(none(), mainClass, "", "", false, mode, "boom");
        assertEquals(1, r.exit);
        assertTrue(r.stderr.contains(expected), r.stderr);
        assertFalse(r.stderr.contains("InvocationTargetException"), r.stderr);
    }

    /** Redirected: one line with the reason on the original standard error, the stack in the redirected file. */
    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {
        "com.vexlo.testapp.Missing | echo  | vexlo: could not start com.vexlo.testapp.Missing: "
            + "java.lang.ClassNotFoundException: com.vexlo.testapp.Missing",
        "com.vexlo.testapp.TestApp | throw | vexlo: com.vexlo.testapp.TestApp.main ended with an exception: "
            + "com.vexlo.testapp.TestApp$AppFailure: boom",
    })
    void aFailureToStartAlsoReachesTheOriginalStandardError(String mainClass, String mode, String line)
            throws Exception {
        Path err = dir.resolve("err.log");
        Result r = run(none(), mainClass, dir.resolve("out.log").toString(), err.toString(), false, mode, "boom");
        assertEquals(1, r.exit);
        assertEquals(Collections.singletonList(line), Arrays.asList(r.stderr.split("\\R")), r.stderr);
        assertTrue(read(err).contains("\tat "), read(err));
    }

    @Test
    void moduleModeFindsTheClassInItsModule() throws Exception {
        Path out = dir.resolve("out.txt");
        // The launcher's own module options for main class app.module/com.example.modapp.Main.
        List<String> vm = Arrays.asList("--module-path=" + JAR + File.pathSeparator + MODULES,
                "--add-opens=app.module/com.example.modapp=com.vexlo.runtime",
                "--add-modules=app.module,com.vexlo.runtime");
        List<String> cmd = command(vm, "", "/app.module/com.example.modapp.Main", out.toString(), "", false,
                "a b", "\u00e9");
        Result r = finish(start(cmd), null);
        assertEquals(0, r.exit, r.stderr);
        assertEquals(Collections.singletonList("module=app.module args=a b,\u00e9"), lines(out));
    }

    @ParameterizedTest
    @CsvSource(delimiter = '|', value = {"0\\n | 0", "3\\r\\n | 3", "'' | 0", "x\\n | 0"})
    void serviceStopsOnTheLineOrEndOfInputAndRunsShutdownHooks(String line, int status) throws Exception {
        String input = line.replace("\\r", "\r").replace("\\n", "\n");
        Path out = dir.resolve("out.txt");
        Path marker = dir.resolve("marker");
        Process p = startService(out, none(), "service", marker.toString());
        Result r = finish(p, input);
        assertEquals(status, r.exit, r.stderr);
        assertEquals(Arrays.asList("hook started", "hook ran"), lines(marker));
        // The application itself saw no input: the stop line is not its to read.
        assertEquals(Arrays.asList("stdin:-1", "ready"), lines(out));
    }

    @Test
    void hangingShutdownHookIsHaltedAfterTheStopTimeout() throws Exception {
        Path out = dir.resolve("out.txt");
        Path marker = dir.resolve("marker");
        Process p = startService(out, Collections.singletonList("-Dvexlo.stopTimeout=1"), "service",
                marker.toString(), "hang");
        Result r = finish(p, "0\n");
        assertEquals(1, r.exit, r.stderr);
        assertEquals(Collections.singletonList("hook started"), lines(marker));
        assertTrue(r.stderr.contains("did not stop within 1 s"), r.stderr);
    }

    @Test
    void nonDaemonThreadsKeepTheProgramAliveAfterMainReturns() throws Exception {
        Path out = dir.resolve("out.txt");
        Result r = run(none(), APP, out.toString(), "", false, "thread");
        assertEquals(0, r.exit, r.stderr);
        assertEquals(Arrays.asList("main returns", "late"), lines(out));
    }

    @Test
    void runtimeViewReadsTheLauncherProperties() throws Exception {
        List<String> vm = Arrays.asList("-Dvexlo.moduleName=C:\\Apps\\\u00e4pp.exe", "-Dvexlo.tempDir=",
                "-Dvexlo.semaphoreName=Local\\app0");
        Path out = dir.resolve("out.txt");
        Result r = run(vm, APP, out.toString(), "", false, "runtime");
        assertEquals(0, r.exit, r.stderr);
        assertEquals(Collections.singletonList("false|C:\\Apps\\\u00e4pp.exe|null|Local\\app0"), lines(out));
    }

    @Test
    void splashConfigurationIsKeptAndNeverFails() {
        WinLauncher.initAwtSplashConfig(true, false, "a", 1, 2, null, 3, 4, "", 5, 6, "\u00e4", 7, 8);
        WinLauncher.SplashConfig c = WinLauncher.splashConfig();
        assertArrayEquals(new String[] {"a", null, "", "\u00e4"}, c.texts);
        assertArrayEquals(new int[] {1, 2, 3, 4, 5, 6, 7, 8}, c.numbers);
        assertTrue(c.first && !c.second);
    }

    // --- harness ---

    private static final class Result {
        final int exit;
        final String stdout;
        final String stderr;

        Result(int exit, String stdout, String stderr) {
            this.exit = exit;
            this.stdout = stdout;
            this.stderr = stderr;
        }
    }

    private Result run(List<String> vm, String mainClass, String out, String err, boolean append, String... app)
            throws Exception {
        return finish(start(command(vm, JAR + File.pathSeparator + APPS, mainClass, out, err, append, app)), null);
    }

    /** A service child: waits until the application is ready, so the stop line meets its shutdown hook. */
    private Process startService(Path out, List<String> vm, String... app) throws Exception {
        List<String> options = new ArrayList<>(vm);
        options.add("-Dvexlo.isService=true");
        Process p = start(command(options, JAR + File.pathSeparator + APPS, APP, out.toString(), "", false, app));
        long deadline = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
        while (!(Files.exists(out) && lines(out).contains("ready"))) {
            if (!p.isAlive() || System.nanoTime() > deadline) {
                p.destroyForcibly();
                fail("service application did not get ready: " + read(dir.resolve("stderr")));
            }
            Thread.sleep(50);
        }
        return p;
    }

    private static List<String> command(List<String> vm, String classPath, String mainClass, String out,
            String err, boolean append, String... app) {
        List<String> cmd = new ArrayList<>();
        cmd.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        cmd.addAll(vm);
        if (!classPath.isEmpty()) {
            cmd.add("-cp");
            cmd.add(classPath);
            cmd.add(WinLauncher.class.getName());
        } else {
            cmd.add("-m");
            cmd.add("com.vexlo.runtime/" + WinLauncher.class.getName());
        }
        cmd.addAll(Arrays.asList("false", mainClass, out, err, Boolean.toString(append), PROGRAM));
        cmd.addAll(Arrays.asList(app));
        return cmd;
    }

    private Process start(List<String> cmd) throws IOException {
        ProcessBuilder pb = new ProcessBuilder(cmd).directory(dir.toFile());
        pb.redirectOutput(dir.resolve("stdout").toFile()).redirectError(dir.resolve("stderr").toFile());
        return pb.start();
    }

    /** Writes the input (null: none) and closes standard input, then waits for the end. */
    private Result finish(Process p, String input) throws Exception {
        try (OutputStream in = p.getOutputStream()) {
            if (input != null) {
                in.write(input.getBytes(StandardCharsets.US_ASCII));
            }
        }
        if (!p.waitFor(60, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            fail("launcher did not end");
        }
        return new Result(p.exitValue(), read(dir.resolve("stdout")), read(dir.resolve("stderr")));
    }

    private static String read(Path file) throws IOException {
        return Files.exists(file) ? new String(Files.readAllBytes(file), StandardCharsets.UTF_8) : "";
    }

    private static List<String> lines(Path file) throws IOException {
        return Files.readAllLines(file, StandardCharsets.UTF_8);
    }

    private static List<String> none() {
        return Collections.emptyList();
    }
}
