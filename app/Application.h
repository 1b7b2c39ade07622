#pragma once
#include <QString>

class MainWindow;
class Prompter;
class Settings;

// The process-wide objects, each created on its first use.

// The one Settings object. Its first use loads the preferences, creates the main
// window (whose load handler runs) and then restores the workspace into it.
Settings &settings();
bool AppSettingsExists();
// Saves the preferences and the workspace and releases the object. A store that cannot
// be written is reported on standard error.
void ReleaseAppSettings();

// The loaded HEX file and its download handler.
class HexFile;
HexFile &HexFile();
// The HEX files loaded most recently.
class RecentFiles;
RecentFiles &RecentFiles();

// The three version parts last reported by the kernel (0.0.0 until a query succeeds).
class KernelVersion;
const KernelVersion &TheKernelVersion();

// The serial link: port, dispatcher, kernel commands. Created on first use.
class SerialLink;
SerialLink &Link();
SerialLink *LinkIfExists();
// The download (F5) and run (F6, F7) commands on the link.
class HexDownload;
class RunLink;
HexDownload &Downloader();
RunLink &Runner();
// Opens the port with the download settings; true when it opened.
bool openPort();

// The main window; created and loaded on its first use.
MainWindow &MainWindow();
MainWindow *MainWindowIfExists();

// The path named on the command line (empty for none).
void setCommandLinePath(const QString &path);
QString CommandLinePath();

// Message boxes and file dialogs. Tests put their own prompter in place.
Prompter &prompter();
void setPrompter(Prompter *prompter);

// The start procedure: splash, port set-up (which brings up the settings and the main
// window), show the main window, ask the kernel for its version when the port opened.
void Main();
// True while Main runs (the port set-up and the first version query).
bool StartingUp();

// Releases everything for a fresh start inside one process (tests).
void ResetGlobalsForTest();
