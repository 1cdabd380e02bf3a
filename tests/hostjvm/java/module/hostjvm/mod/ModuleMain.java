package hostjvm.mod;

import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;

/** The main class of a small named module: says which module it runs in and what it was given. */
public final class ModuleMain {
    public static void main(String[] args) throws Exception {
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        out.println("module: " + ModuleMain.class.getModule().getName());
        for (int i = 0; i < args.length; i++) out.println("arg[" + i + "]=" + args[i]);
    }
}
