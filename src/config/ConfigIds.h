// Every configuration and message id the launcher reads.
#pragma once

namespace vexlo::ids {

// Start-up, configuration and included files.
inline constexpr int kServiceName = 101;
inline constexpr int kExecutableType = 107;
inline constexpr int kWorkingDirectory = 146;
inline constexpr int kLauncherKind = 2001;
inline constexpr int kIncludedFileCount = 2002;
inline constexpr int kIncludedFilePaths = 2003;
inline constexpr int kReducePath = 10010;
inline constexpr int kIgnoreJavaOptionsEnv = 10012;

// Temporary directories and single instance.
inline constexpr int kPreferLongTempPath = 10009;
inline constexpr int kTempInLocalAppData = 10015;
inline constexpr int kSingleInstance = 10005;
inline constexpr int kBringInstanceToFront = 10008;
inline constexpr int kInstanceGlobalPrefix = 158;
inline constexpr int kInstanceSessionPrefix = 200;

// Java runtime discovery.
inline constexpr int kMinJavaVersion = 126;
inline constexpr int kMaxJavaVersion = 127;
inline constexpr int kAllowBetaJava = 130;
inline constexpr int kSearchSequence = 128;
inline constexpr int kRequireJdk = 131;
inline constexpr int kAcceptFailedDirectoryEntry = 134;
inline constexpr int kApplicationId = 160;
inline constexpr int kSkipRegistrySearch = 165;
inline constexpr int kJvmSubdirectory = 152;
inline constexpr int kApplicationDirectory = 10003;

// JVM options, class path and launch.
inline constexpr int kClassPath = 121;
inline constexpr int kModulePath = 132;
inline constexpr int kModuleMode = 133;
inline constexpr int kMainClass = 122;
inline constexpr int kVmOptions = 123;
inline constexpr int kReadDefaultVmOptionsFile = 166;
inline constexpr int kJOptionsAreVmOptions = 125;
inline constexpr int kVersionRuleCount = 10200;
inline constexpr int kVersionRuleKeyBase = 10201;      // key of rule i: base + 2 * i
inline constexpr int kVersionRuleOptionsBase = 10202;  // options of rule i: base + 2 * i
inline constexpr int kApplicationArguments = 124;
inline constexpr int kUseRuntimeArgument2 = 102;
inline constexpr int kRuntimeArgument2Path = 103;
inline constexpr int kUseRuntimeArgument3 = 104;
inline constexpr int kRuntimeArgument3Path = 105;
inline constexpr int kRuntimeArgument4 = 106;
inline constexpr int kSplashConfig = 108;
inline constexpr int kSplashSecondFlag = 163;
inline constexpr int kSplashText1 = 10111;
inline constexpr int kSplashText1Number1 = 10109;
inline constexpr int kSplashText1Number2 = 10110;
inline constexpr int kSplashText2 = 10114;
inline constexpr int kSplashText2Number1 = 10113;
inline constexpr int kSplashText2Number2 = 10115;
inline constexpr int kSplashText3 = 10118;
inline constexpr int kSplashText3Number1 = 10116;
inline constexpr int kSplashText3Number2 = 10117;
inline constexpr int kSplashText4 = 10121;
inline constexpr int kSplashText4Number1 = 10120;
inline constexpr int kSplashText4Number2 = 10122;
inline constexpr int kAddDllDirectories = 154;
inline constexpr int kNativeLibraryDirectories = 10004;

// Rotation of the redirected output (the project's own range 30200-30299), passed on as system properties.
inline constexpr int kOutputRotate = 30200;   // "size", "daily" or "none"
inline constexpr int kOutputMaxSize = 30201;  // bytes
inline constexpr int kOutputKeep = 30202;     // old files (size) or days (daily)

// Service.
inline constexpr int kServiceDependencies = 149;
inline constexpr int kServiceDescription = 20017;
// The project's own service settings (30100-30199). Durations are whole milliseconds.
inline constexpr int kServiceAccount = 30100;      // "LocalSystem", "LocalService", "NetworkService", "virtual", a user
inline constexpr int kServicePasswordEnv = 30101;  // variable that holds a user account's password at /install
inline constexpr int kServiceDisplayName = 30102;
inline constexpr int kServiceDelayedStart = 30103;     // "1": automatic start, delayed
inline constexpr int kServiceStopTimeout = 30104;      // ms the application gets to end after a stop request
inline constexpr int kServiceRecoveryActions = 30105;  // "restart:<ms>" or "none", comma-separated; "off"
inline constexpr int kServiceRecoveryReset = 30106;    // ms after which the failure count starts again
inline constexpr int kServiceEnvironment = 30107;      // "NAME=value" lines for the child
// The project's own range (30000-30049): the service process's log file ("" for none).
inline constexpr int kServiceLogPath = 30000;

// Messages.
inline constexpr int kMsgErrorTitle = 1000;
inline constexpr int kMsgRegistryJvmNotLoaded = 1005;
inline constexpr int kMsgMandatoryPathMissing = 1006;
inline constexpr int kMsgMandatoryPathVariableUnset = 1008;
inline constexpr int kMsgLaunchFailed = 1009;
inline constexpr int kMsgMainClassNotFound = 1010;
inline constexpr int kMsgMainMethodNotFound = 1011;
inline constexpr int kMsgNoTempDirectory = 1015;
inline constexpr int kMsgNoJvmFound = 1016;
inline constexpr int kMsgEnvJvmNotLoaded = 1018;
inline constexpr int kMsgDirectoryJvmNotLoaded = 1020;
inline constexpr int kMsgUnpackFailed = 1021;

// Executable types of kExecutableType.
inline constexpr int kExeTypeGui = 1;
inline constexpr int kExeTypeAutoStartService = 4;
inline constexpr int kExeTypeMessageBox = 5;

}  // namespace vexlo::ids
