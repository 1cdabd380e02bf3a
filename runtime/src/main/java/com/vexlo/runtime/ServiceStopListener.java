package com.vexlo.runtime;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;

/**
 * The service process stops its child by writing one line to the child's standard input ("0" for a stop) and
 * closing it. This listener turns that line, or the end of input, into System.exit so shutdown hooks run, and
 * halts the VM if they do not finish within the grace period.
 */
final class ServiceStopListener {

    static final String STOP_TIMEOUT_PROPERTY = "vexlo.stopTimeout";
    static final int DEFAULT_STOP_TIMEOUT_SECONDS = 30;
    private static final int MAX_LINE = 64;

    private ServiceStopListener() {
    }

    static void start() {
        final InputStream in = System.in;
        // Read now, so a bad value is reported at start and not only when the service stops.
        final long timeoutSeconds = stopTimeoutSeconds();
        // The stop line belongs to us: an application reading standard input would swallow it.
        System.setIn(new ByteArrayInputStream(new byte[0]));
        Thread reader = new Thread(new Runnable() {
            @Override
            public void run() {
                stop(readStatus(in), timeoutSeconds);
            }
        }, "vexlo-service-stop");
        reader.setDaemon(true);
        reader.start();
    }

    /** The status on the first line; end of input (or a broken pipe) is a plain stop. */
    static int readStatus(InputStream in) {
        ByteArrayOutputStream line = new ByteArrayOutputStream();
        boolean any = false;
        try {
            int b;
            while ((b = in.read()) >= 0 && b != '\n') {
                any = true;
                if (line.size() < MAX_LINE) {
                    line.write(b);
                }
            }
        } catch (IOException e) {
            return 0;
        }
        String text = new String(line.toByteArray(), StandardCharsets.US_ASCII).trim();
        if (!any || text.isEmpty()) {
            return 0;
        }
        try {
            return Integer.parseInt(text);
        } catch (NumberFormatException e) {
            // Still a stop request; the service process only ever writes one line.
            System.err.println("vexlo: stop line '" + text + "' is not a number; stopping with status 0");
            return 0;
        }
    }

    private static void stop(int status, final long timeoutSeconds) {
        Thread watchdog = new Thread(new Runnable() {
            @Override
            public void run() {
                try {
                    Thread.sleep(timeoutSeconds * 1000L);
                } catch (InterruptedException e) {
                    return;
                }
                System.err.println("vexlo: the application did not stop within " + timeoutSeconds
                        + " s of the stop request; halting the VM");
                System.err.flush();
                Runtime.getRuntime().halt(1);
            }
        }, "vexlo-stop-watchdog");
        watchdog.setDaemon(true);
        watchdog.start();
        System.exit(status);
    }

    static long stopTimeoutSeconds() {
        String value = System.getProperty(STOP_TIMEOUT_PROPERTY);
        if (value == null || value.trim().isEmpty()) {
            return DEFAULT_STOP_TIMEOUT_SECONDS;
        }
        try {
            long seconds = Long.parseLong(value.trim());
            if (seconds >= 0 && seconds <= Integer.MAX_VALUE) {
                return seconds;
            }
        } catch (NumberFormatException ignored) {
            // reported below
        }
        System.err.println("vexlo: " + STOP_TIMEOUT_PROPERTY + "=" + value + " is not a number of seconds; using "
                + DEFAULT_STOP_TIMEOUT_SECONDS);
        return DEFAULT_STOP_TIMEOUT_SECONDS;
    }
}
