#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace quobin {

// Where Quobin keeps its files: quobin.ini and the comN port links.
//
// A portable folder that the user can write keeps everything beside the
// program. A system install (the program in a folder the user cannot write,
// such as /usr/bin) keeps them in the per-user folder instead. Both programs
// ask this one place, so the window and the command line always agree.
struct StorageFolders {
    QString programFolder;          // the folder of the executable
    QString userFolder;             // $XDG_CONFIG_HOME/quobin, else ~/.config/quobin
    bool programFolderWritable = true;

    // The folder that quobin.ini is read from and written to, and that new
    // comN links are made in.
    QString writeFolder() const;
    // The folders searched for a comN link, in order: a link beside the
    // program wins over one in the per-user folder.
    QStringList linkFolders() const;
    // Makes the write folder when it is missing (the per-user folder before
    // the first save of a system install). False when it cannot be made; the
    // save then reports the path it could not write.
    bool makeWriteFolder() const;
};

// Decides for the program in programFolder, as the current user, with the
// XDG_CONFIG_HOME and HOME of env.
StorageFolders storageFoldersFor(const QString &programFolder,
                                 const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

} // namespace quobin
