#pragma once

// Numeric ids of the main window's controls and menu commands. Widgets carry
// theirs as the dynamic property "controlId" (menu actions as "commandId"), so
// tests and the routing table refer to the same numbers.
namespace ControlId {
inline constexpr int EntryList = 1002;
inline constexpr int AddFile = 1003;
inline constexpr int AddFolder = 1004;
inline constexpr int RemoveEntry = 1005;
inline constexpr int Browse = 1006;
inline constexpr int Destination = 1007;
inline constexpr int FullBackup = 1008;
inline constexpr int IncrementalBackup = 1009;
inline constexpr int Days = 1010;
inline constexpr int Hours = 1011;
inline constexpr int Minutes = 1012;
inline constexpr int StartWithSession = 1013;
inline constexpr int BehaviourGroup = 1014;
inline constexpr int Countdown = 1015;
inline constexpr int AddSpecialFolder = 1016;
inline constexpr int Options = 1017;
inline constexpr int FilesGroup = 1023;
inline constexpr int BackupFolderGroup = 1024;
inline constexpr int IntervalGroup = 1025;
inline constexpr int DaysLabel = 1026;
inline constexpr int HoursLabel = 1027;
inline constexpr int MinutesLabel = 1028;
inline constexpr int Title = 1029;
inline constexpr int StartBackup = 1031;
inline constexpr int HeaderLogo = 1055;
}  // namespace ControlId

namespace CommandId {
inline constexpr int Exit = 32771;
inline constexpr int ShowHelp = 32775;
inline constexpr int Website = 32776;
inline constexpr int About = 32777;
inline constexpr int MinimizeToTray = 32778;
inline constexpr int StartBackupNow = 32779;
inline constexpr int Language = 32780;
inline constexpr int TrayExit = 32781;
inline constexpr int TrayShowMainWindow = 32782;
inline constexpr int Options = 32783;
inline constexpr int OpenProject = 32784;
inline constexpr int SaveProject = 32785;
inline constexpr int SaveProjectAs = 32786;
inline constexpr int AddFile = 32787;
inline constexpr int AddFolder = 32788;
inline constexpr int AddSpecialFolder = 32789;
inline constexpr int AddFileException = 32790;
inline constexpr int AddFolderException = 32791;
inline constexpr int RemoveEntry = 32792;
inline constexpr int Restore = 32793;
}  // namespace CommandId

// The scheduler's window timer.
inline constexpr int kSchedulerTimerId = 1;
inline constexpr int kSchedulerPeriodMs = 60000;
