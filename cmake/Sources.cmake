# Source lists shared by the trees.

# Portable core: no <windows.h>; compiled by the host compiler and by mingw.
set(QS_CORE_SOURCES
  common/LineBreaks.cpp
  common/Mbcs.cpp
  common/PathText.cpp
  common/SafeFormat.cpp
  driver/CommandLine.cpp
  efs/EfsFormat.cpp
  efs/EntryCodec.cpp
  efs/Crc32.cpp
  efs/Inflate.cpp
  efs/PeImage.cpp
  efs/SetupLayout.cpp
  efs/Sha256.cpp
  efs/SliceRecord.cpp
  script/FileParser.cpp
  script/PlaceholderTokens.cpp
  uninstall/LogLines.cpp
)

# The builder: portable too, but only the authoring side links it.
set(QS_BUILDER_SOURCES
  efs/EFSBuilder.cpp
  efs/EntryEncode.cpp
  efs/PortableFile.cpp
)

# Win32 shell of the setup program, everything but the entry point.
set(QS_WIN_SOURCES
  driver/SetupFileKind.cpp
  driver/SetupState.cpp
  efs/ExeFileSystem.cpp
  efs/EntryExtraction.cpp
  driver/SplitJoin.cpp
  driver/SliceCheck.cpp
  driver/Startup.cpp
  platform/FileSystem.cpp
  platform/FrontEnd.cpp
  platform/RunLog.cpp
  platform/PrivateTemp.cpp
  engine/InstallProgress.cpp
  engine/InstallWorker.cpp
  engine/InstallRun.cpp
  engine/AddRemovePrograms.cpp
  engine/SectionSupport.cpp
  engine/FilesSection.cpp
  engine/ShortcutsSection.cpp
  engine/IniFilesSection.cpp
  engine/RegistrySection.cpp
  engine/RegisterDllsSection.cpp
  engine/ExecuteSection.cpp
  platform/RegistryHelpers.cpp
  script/Placeholders.cpp
  platform/SystemLibrary.cpp
  script/Translations.cpp
  uninstall/RollbackJournal.cpp
  uninstall/UninstallLogger.cpp
  uninstall/UninstallReplay.cpp
  ui/BackgroundWindow.cpp
  ui/Wizard.cpp
  ui/MessageBoxes.cpp
  ui/SilentFrontEnd.cpp
  ui/SidePicture.cpp
  ui/UninstallerCreation.cpp
  uninstall/UninstallDriver.cpp
  uninstall/SelfRemoval.cpp
)
