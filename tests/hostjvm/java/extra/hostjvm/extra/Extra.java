package hostjvm.extra;

/** A class that lives in a jar of its own, to show which class path entries were read. */
public final class Extra {
    public static String describe() {
        return String.valueOf(Extra.class.getResource("Extra.class"));
    }
}
