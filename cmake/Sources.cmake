# Source lists shared by the trees.

# Portable core: no <windows.h>; compiled by the host compiler and by mingw.
set(QS_CORE_SOURCES
  common/LineBreaks.cpp
  common/Mbcs.cpp
  common/PathText.cpp
  common/SafeFormat.cpp
  common/Version.cpp
  driver/CommandLine.cpp
  efs/EfsDirectory.cpp
  efs/EfsFormat.cpp
  efs/EntryCodec.cpp
  efs/Crc32.cpp
  efs/Inflate.cpp
  efs/PeImage.cpp
  efs/SetupLayout.cpp
  efs/Sha256.cpp
  efs/SliceRecord.cpp
  efs/SolidStream.cpp
  script/ActionSections.cpp
  script/Choices.cpp
  script/FileParser.cpp
  script/PlaceholderTokens.cpp
  uninstall/LogLines.cpp
  script/LaunchCommand.cpp
)

# The builder: portable too, but only the authoring side links it.
set(QS_BUILDER_SOURCES
  efs/EFSBuilder.cpp
  efs/EntryEncode.cpp
  efs/LzmaEncode.cpp
  efs/PortableFile.cpp
)

# The LZMA SDK's C sources as Debian's lzma-dev installs them (public
# domain), compiled from there: the decoder in both setup programs and the
# command, the encoder in the command only.
set(QS_LZMA_SDK /usr/include/lzma CACHE PATH "Folder of the LZMA SDK's LzmaDec.c (lzma-dev)")
if(NOT EXISTS ${QS_LZMA_SDK}/LzmaDec.c OR NOT EXISTS ${QS_LZMA_SDK}/LzmaEnc.c)
  message(FATAL_ERROR "No LZMA SDK sources in ${QS_LZMA_SDK}: install lzma-dev (tools/bootstrap.sh)")
endif()
# Adds the SDK libraries; qs_core and qs_builder link them.
function(qs_add_lzma_sdk)
  add_library(qs_lzma_decoder STATIC ${QS_LZMA_SDK}/LzmaDec.c)
  # the encoder through efs/LzmaEncodeSdk.c, which includes LzmaEnc.c: the
  # SDK's own thread support is not among what lzma-dev ships, so the match
  # finder's thread is ours (efs/LzmaEncode.cpp)
  add_library(qs_lzma_encoder STATIC ${CMAKE_SOURCE_DIR}/efs/LzmaEncodeSdk.c ${QS_LZMA_SDK}/LzFind.c)
  target_compile_definitions(qs_lzma_encoder PRIVATE _7ZIP_ST)
  # the setup program takes the decoder's compact form: every KiB of it is
  # in every setup file; but optimised for speed, as decoding is what an
  # LZMA install waits for (x86 under Wine: 86 MB/s against 66 with -Os,
  # for 1.5 KiB)
  # (nothing unwinds through it: it calls out only to allocate)
  if(QS_STUB_ONLY)
    target_compile_definitions(qs_lzma_decoder PRIVATE _LZMA_SIZE_OPT)
    target_compile_options(qs_lzma_decoder PRIVATE -O2 -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
  foreach(t qs_lzma_decoder qs_lzma_encoder)
    target_include_directories(${t} SYSTEM PUBLIC ${QS_LZMA_SDK})
    # their code, their warnings
    target_compile_options(${t} PRIVATE -w)
  endforeach()
endfunction()

# Win32 shell of the setup program, everything but the entry point.
set(QS_WIN_SOURCES
  driver/SetupFileKind.cpp
  driver/SetupState.cpp
  efs/ExeFileSystem.cpp
  efs/SolidReadAhead.cpp
  efs/EntryExtraction.cpp
  driver/SplitJoin.cpp
  driver/SliceCheck.cpp
  driver/Startup.cpp
  platform/FileSystem.cpp
  platform/FrontEnd.cpp
  platform/RunLog.cpp
  platform/RunWait.cpp
  platform/PrivateTemp.cpp
  platform/TextEncoding.cpp
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
  engine/UninstallerCreation.cpp
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
  ui/PassiveWindow.cpp
  ui/SidePicture.cpp
  ui/LanguageDialog.cpp
  ui/JoinWindow.cpp
  ui/UninstallWindow.cpp
  uninstall/UninstallDriver.cpp
  uninstall/SelfRemoval.cpp
  platform/ProtectedFolder.cpp
  engine/InstalledFolder.cpp
  platform/FilesInUse.cpp
  platform/Elevation.cpp
  ui/ScopeDialog.cpp
  ui/ChoicePages.cpp
  ui/WizardFiles.cpp
  platform/LaunchAsUser.cpp
)
