package com.vexlo.runtime;

/**
 * What the launcher tells the application about its start, so applications need not know the property names.
 * Each method reads the current system property; outside the launcher they answer false or null.
 */
public final class VexloRuntime {

    private VexloRuntime() {
    }

    /** True when the application runs as a Windows service (in the service's child process). */
    public static boolean isService() {
        return "true".equals(System.getProperty("vexlo.isService"));
    }

    /** Full path of the launcher executable, or null when not started by the launcher. */
    public static String getExecutablePath() {
        return nonEmpty(System.getProperty("vexlo.moduleName"));
    }

    /**
     * The launcher's private temporary directory that holds the files extracted from the executable, or null
     * when there is none. It is left in place after a normal end.
     */
    public static String getTempDirectory() {
        return nonEmpty(System.getProperty("vexlo.tempDir"));
    }

    /** Name of the semaphore that guards this instance, or null when no single-instance guard is configured. */
    public static String getSemaphoreName() {
        return nonEmpty(System.getProperty("vexlo.semaphoreName"));
    }

    private static String nonEmpty(String value) {
        return value == null || value.isEmpty() ? null : value;
    }
}
