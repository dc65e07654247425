#pragma once

#include "SettingsFile.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quobin {

// Where Quobin keeps its files: quobin.ini and the comN port links.
//
// A portable folder, one that the user can write and that is not part of the
// system, keeps everything beside the program. Any other install keeps them
// in the per-user folder instead: a folder the user cannot write, and a
// program below the system prefix (/usr) whoever runs it, root included, so
// that nothing is ever written into /usr. Both programs ask this one place,
// so the window and the command line always agree.
struct StorageFolders {
    QString programFolder;          // the folder of the executable
    QString userFolder;             // $XDG_CONFIG_HOME/quobin, else ~/.config/quobin;
                                    // on Windows %APPDATA%\Quobin
    bool programFolderWritable = true;
    bool systemInstall = false;     // the program lives below the system prefix

    // Everything beside the program.
    bool portable() const;
    // The folder that quobin.ini is read from and written to, and that new
    // comN links are made in.
    QString writeFolder() const;
    // The folders searched for a comN link, in order. A portable install has
    // only its own folder and a system install only the per-user folder; a
    // folder the user cannot write (an install shared by an administrator)
    // comes before the per-user folder, so that its links win.
    QStringList linkFolders() const;
    // quobin.ini in the write folder. In the per-user folder a missing file
    // is a user's first start.
    SettingsLocation settingsLocation() const;
    // Makes the write folder when it is missing (the per-user folder before
    // the first save of a system install). False when it cannot be made; the
    // save then reports the path it could not write.
    bool makeWriteFolder() const;
};

// The prefix that a system install (the Debian package) puts its programs below.
inline constexpr char kSystemPrefix[] = "/usr";

// On Windows, the file that the installer leaves beside the programs: a
// folder that holds it is an installation, never a portable folder, wherever
// it is.
inline constexpr char kInstalledMark[] = "installed.txt";

// Decides for the program in programFolder, as the current user, with the
// XDG_CONFIG_HOME and HOME of env (APPDATA on Windows). A program at or below
// systemPrefix (after symbolic links are resolved) is a system install; on
// Windows so is one below the Program Files folders that env names, and one
// beside the installer's kInstalledMark.
StorageFolders storageFoldersFor(const QString &programFolder,
                                 const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                                 const QString &systemPrefix = QString::fromLatin1(kSystemPrefix));

} // namespace quobin
