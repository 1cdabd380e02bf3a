package com.vexlo.runtime;

import java.io.PrintStream;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;

/**
 * The class the native launcher calls once the virtual machine exists. It redirects the output, starts the
 * stop listener of a service and then runs the application's own main class on the calling thread.
 *
 * <p>Arguments, in order: graphical flag ("true"/"false"); main class, or "/" module "/" class; file for
 * standard output; file for standard error (empty: no redirection); "true" to append to those files; the
 * program path (the service name in a service child), which is not passed on; the application's arguments.
 */
public final class WinLauncher {

    /** Five runtime arguments and the program path come first. */
    private static final int FIRST_APPLICATION_ARGUMENT = 6;

    private static volatile SplashConfig splashConfig;

    private WinLauncher() {
    }

    public static void main(String[] args) throws Throwable {
        if (args == null || args.length < 5) {
            throw new IllegalArgumentException("vexlo: expected at least five runtime arguments, got "
                    + (args == null ? 0 : args.length));
        }
        // args[0], the graphical flag, changes nothing here: there is no window to prepare for a service.
        String mainClass = args[1];
        boolean append = "true".equals(args[4]);
        String[] applicationArgs = args.length > FIRST_APPLICATION_ARGUMENT
                ? Arrays.copyOfRange(args, FIRST_APPLICATION_ARGUMENT, args.length) : new String[0];

        PrintStream originalErr = System.err;
        if (!"true".equals(System.getProperty("quandrel.noRedir"))) {
            OutputRedirection.apply(args[2], args[3], append);
        }
        Method main;
        try {
            main = findMain(mainClass);
        } catch (ReflectiveOperationException | LinkageError e) {
            reportOnOriginal(originalErr, "could not start " + mainClass, e);
            throw e;
        }
        // Once the entry point is known: a stop arriving earlier must not hide why the program cannot start.
        if (VexloRuntime.isService()) {
            ServiceStopListener.start();
        }
        try {
            main.invoke(null, (Object) applicationArgs);
        } catch (InvocationTargetException e) {
            // The launcher logs the escaping exception; it must be the application's, not the reflection wrapper.
            reportOnOriginal(originalErr, mainClass + ".main ended with an exception", e.getCause());
            throw e.getCause();
        }
    }

    /**
     * The stack goes to the redirected standard error as the launcher prints it; one line also goes to the
     * original one, which a service drains into its own log, so that the reason is where an administrator looks.
     */
    private static void reportOnOriginal(PrintStream originalErr, String what, Throwable failure) {
        if (originalErr == System.err) {
            return;
        }
        originalErr.println("vexlo: " + what + ": " + failure);
        originalErr.flush();
    }

    /**
     * Called by the launcher right after the virtual machine is created, before {@link #main}. A service has no
     * splash window, so the values are only kept; nothing here may fail.
     */
    public static void initAwtSplashConfig(boolean first, boolean second,
            String text1, int x1, int y1, String text2, int x2, int y2,
            String text3, int x3, int y3, String text4, int x4, int y4) {
        splashConfig = new SplashConfig(first, second,
                new String[] {text1, text2, text3, text4},
                new int[] {x1, y1, x2, y2, x3, y3, x4, y4});
    }

    static SplashConfig splashConfig() {
        return splashConfig;
    }

    private static Method findMain(String name) throws ReflectiveOperationException {
        Class<?> cls = name.startsWith("/") ? findInModule(name) : Class.forName(name, false, loader());
        Method main = cls.getMethod("main", String[].class);
        if (!Modifier.isStatic(main.getModifiers()) || main.getReturnType() != void.class) {
            throw new NoSuchMethodException("vexlo: " + cls.getName() + ".main(String[]) is not static void");
        }
        try {
            // A public main in a package-private class is still an entry point, as it is for the java command.
            main.setAccessible(true);
        } catch (RuntimeException ignored) {
            // Not opened to us; invoke() reports it if the method really is out of reach.
        }
        return main;
    }

    private static ClassLoader loader() {
        ClassLoader context = Thread.currentThread().getContextClassLoader();
        return context != null ? context : ClassLoader.getSystemClassLoader();
    }

    /**
     * "/module/class": looked up in the boot module layer by reflection, so this class stays loadable by Java 8.
     */
    private static Class<?> findInModule(String spec) throws ReflectiveOperationException {
        int slash = spec.indexOf('/', 1);
        if (slash < 0 || slash == 1 || slash == spec.length() - 1) {
            throw new ClassNotFoundException("vexlo: module main class must be /module/class: " + spec);
        }
        String moduleName = spec.substring(1, slash);
        String className = spec.substring(slash + 1);
        Class<?> layerClass;
        Class<?> moduleClass;
        try {
            layerClass = Class.forName("java.lang.ModuleLayer");
            moduleClass = Class.forName("java.lang.Module");
        } catch (ClassNotFoundException e) {
            throw new ClassNotFoundException("vexlo: module main class " + spec + " needs Java 9 or later", e);
        }
        Object layer = layerClass.getMethod("boot").invoke(null);
        Object found = layerClass.getMethod("findModule", String.class).invoke(layer, moduleName);
        Object module = found.getClass().getMethod("orElse", Object.class).invoke(found, (Object) null);
        if (module == null) {
            throw new ClassNotFoundException("vexlo: module " + moduleName + " is not in the boot layer"
                    + " (main class " + spec + ")");
        }
        Object cls = Class.class.getMethod("forName", moduleClass, String.class).invoke(null, module, className);
        if (cls == null) {
            throw new ClassNotFoundException("vexlo: class " + className + " not found in module " + moduleName);
        }
        return (Class<?>) cls;
    }

    /** The values of the splash call, kept as received. */
    static final class SplashConfig {
        final boolean first;
        final boolean second;
        final String[] texts;
        final int[] numbers;

        SplashConfig(boolean first, boolean second, String[] texts, int[] numbers) {
            this.first = first;
            this.second = second;
            this.texts = texts;
            this.numbers = numbers;
        }
    }
}
