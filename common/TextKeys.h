// The keys of the translation table's texts, one name each, so that a
// misspelt key does not compile. The keys are spelt as the tables spell
// them (DESITNATION, ENBEDDED, REALY, REGESTRY, UINSTALL included).
#pragma once

constexpr const char* TK_ERROR = "ERROR";
constexpr const char* TK_INSTALL_TITLE = "INSTALL_TITLE";
constexpr const char* TK_UNINSTALL_TITLE = "UNINSTALL_TITLE";
constexpr const char* TK_WELCOME = "WELCOME";
constexpr const char* TK_EULA = "EULA";
constexpr const char* TK_BACK = "BACK";
constexpr const char* TK_NEXT = "NEXT";
constexpr const char* TK_ACCEPT = "ACCEPT";
constexpr const char* TK_CANCEL = "CANCEL";
constexpr const char* TK_BROWSE = "BROWSE";
constexpr const char* TK_EULA_BOX_TEXT = "EULA_BOX_TEXT";
constexpr const char* TK_WELCOME_PAGE_TEXT = "WELCOME_PAGE_TEXT";
constexpr const char* TK_EULA_PAGE_TEXT = "EULA_PAGE_TEXT";
constexpr const char* TK_CHOOSEDESTINATION_PAGE_TEXT = "CHOOSEDESTINATION_PAGE_TEXT";
constexpr const char* TK_STARTINSTALLATION_PAGE_TEXT = "STARTINSTALLATION_PAGE_TEXT";
constexpr const char* TK_INSTALLING_PAGE_TEXT = "INSTALLING_PAGE_TEXT";
constexpr const char* TK_DESTINATION_FOLDER = "DESTINATION_FOLDER";
constexpr const char* TK_FINALIZING = "FINALIZING";
constexpr const char* TK_FINISH = "FINISH";
constexpr const char* TK_INSTALLATION_FILE_IS_CORRUPT = "INSTALLATION_FILE_IS_CORRUPT";
constexpr const char* TK_NO_APP_NAME_DEFINED = "NO_APP_NAME_DEFINED";
constexpr const char* TK_CREATE_TEMP_BITMAP_FAILED = "CREATE_TEMP_BITMAP_FAILED";
constexpr const char* TK_COPY_EMBEDDED_BITMAP_FAILED = "COPY_EMBEDDED_BITMAP_FAILED";
constexpr const char* TK_CREATE_TEMP_WMF_FAILED = "CREATE_TEMP_WMF_FAILED";
constexpr const char* TK_COPY_ENBEDDED_WMF_FAILED = "COPY_ENBEDDED_WMF_FAILED";
constexpr const char* TK_DO_YOU_REALY_WANT_TO_QUIT = "DO_YOU_REALY_WANT_TO_QUIT";
constexpr const char* TK_PLEASE_ENTER_PATH_TO_INSTALL_DIR = "PLEASE_ENTER_PATH_TO_INSTALL_DIR";
constexpr const char* TK_PROGRAM_WAS_SUCCESSFULLY_INSTALLED = "PROGRAM_WAS_SUCCESSFULLY_INSTALLED";
constexpr const char* TK_SELECT_DIRECTORY = "SELECT_DIRECTORY";
constexpr const char* TK_CHOOSE_DESITNATION_LOCATION = "CHOOSE_DESITNATION_LOCATION";
constexpr const char* TK_START_INSTALLATION = "START_INSTALLATION";
constexpr const char* TK_INSTALLING = "INSTALLING";
constexpr const char* TK_PROGRESS = "PROGRESS";
constexpr const char* TK_COPYING_FILES = "COPYING_FILES";
constexpr const char* TK_COPYING_FILE = "COPYING_FILE";
constexpr const char* TK_INSTALL_PROGRESS = "INSTALL_PROGRESS";
constexpr const char* TK_UNSPECIFIED_ERROR_OCCURED = "UNSPECIFIED_ERROR_OCCURED";
constexpr const char* TK_DISK_IS_FULL = "DISK_IS_FULL";
constexpr const char* TK_COULD_NOT_CREATE_SHORTCUT = "COULD_NOT_CREATE_SHORTCUT";
constexpr const char* TK_COULD_NOT_CREATE_SHORTCUT_DIR_PATH = "COULD_NOT_CREATE_SHORTCUT_DIR_PATH";
constexpr const char* TK_COULD_NOT_CREATE_INI_FILE = "COULD_NOT_CREATE_INI_FILE";
constexpr const char* TK_COULD_NOT_CREATE_INI_FILE_DIR_PATH = "COULD_NOT_CREATE_INI_FILE_DIR_PATH";
constexpr const char* TK_COULD_NOT_WRITE_TO_INI_FILE = "COULD_NOT_WRITE_TO_INI_FILE";
constexpr const char* TK_COULD_NOT_WRITE_LINE_TO_REGESTRY = "COULD_NOT_WRITE_LINE_TO_REGESTRY";
constexpr const char* TK_COULD_NOT_EXECUTE_FILE = "COULD_NOT_EXECUTE_FILE";
constexpr const char* TK_FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS = "FOLDER_CONTAINS_NEW_FILES_OR_SUBFOLDERS";
constexpr const char* TK_DELETING_INSTALLED_FILES_AND_FOLDERS = "DELETING_INSTALLED_FILES_AND_FOLDERS";
constexpr const char* TK_FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS = "FOLDER_CONTAINS_LOCKED_FILES_OR_SUBFOLDERS";
constexpr const char* TK_FAILED_TO_CREATE_UNINSTALL_EXE = "FAILED_TO_CREATE_UNINSTALL_EXE";
constexpr const char* TK_COULD_NOT_FIND_UNINSTALL_LOG_FILE = "COULD_NOT_FIND_UNINSTALL_LOG_FILE";
constexpr const char* TK_YOU_ARE_ABOUT_TO_UNINSTALL = "YOU_ARE_ABOUT_TO_UNINSTALL";
constexpr const char* TK_PLEASE_WAIT_WHILE_UNINSTALLING = "PLEASE_WAIT_WHILE_UNINSTALLING";
constexpr const char* TK_UNINSTALLATION_IS_NOW_FINISHED = "UNINSTALLATION_IS_NOW_FINISHED";
constexpr const char* TK_UINSTALL_PROCESS_FAILED = "UINSTALL_PROCESS_FAILED";
constexpr const char* TK_NEWER_VERSION_IS_INSTALLED = "NEWER_VERSION_IS_INSTALLED";
constexpr const char* TK_INSTALLED_FOLDER_ONLY = "INSTALLED_FOLDER_ONLY";
constexpr const char* TK_FAILED_TO_COPY_TRANSLATIONS = "FAILED_TO_COPY_TRANSLATIONS";

// Keys the tables hold that no code shows: a second start ends silently.
constexpr const char* const kReservedTextKeys[] = {"PROGRAM_ALREADY_RUNNING"};
