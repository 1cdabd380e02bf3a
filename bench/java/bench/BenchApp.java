package bench;

import java.io.FileWriter;
import java.io.IOException;
import java.time.Instant;

/**
 * The application of the real-VM figures. Usage: BenchApp RECORD [--wait]
 * Appends "entry|<100 ns ticks since 1601>" to RECORD as main is entered (the clock of FILETIME, so the driver
 * compares it with the process creation time), then returns or, with --wait, runs until the VM is stopped.
 * Its shutdown hook returns at once, so a stop measures the launcher and the VM, not the application.
 */
public final class BenchApp {
    private static final long EPOCH_1601_TICKS = 116444736000000000L;

    public static void main(String[] args) throws IOException, InterruptedException {
        Instant now = Instant.now();
        long ticks = EPOCH_1601_TICKS + now.getEpochSecond() * 10_000_000L + now.getNano() / 100;
        Runtime.getRuntime().addShutdownHook(new Thread(() -> {}));
        try (FileWriter out = new FileWriter(args[0], true)) {
            out.write("entry|" + ticks + "\n");
        }
        if (args.length > 1 && args[1].equals("--wait")) Thread.sleep(Long.MAX_VALUE);
    }
}
