#pragma once

// Windows only: a folder that its users may read and list but not write
// into, through its access-control list, as an administrator closes one.
// (The read-only attribute does not do it: Windows ignores it on folders.)

#include <QString>

#include <windows.h>
#include <aclapi.h>

namespace quobin::testing {

// Gives the folder a protected DACL of two entries for everyone: `denied`
// (none when 0) before `allowed`. Empty on success, else the reason.
inline QString setFolderRights(const QString &folder, DWORD denied, DWORD allowed)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return QStringLiteral("AllocateAndInitializeSid failed: %1").arg(GetLastError());
    EXPLICIT_ACCESS_W access[2]{};
    ULONG entries = 0;
    const auto add = [&](ACCESS_MODE mode, DWORD rights) {
        EXPLICIT_ACCESS_W &entry = access[entries++];
        entry.grfAccessPermissions = rights;
        entry.grfAccessMode = mode;
        entry.grfInheritance = NO_INHERITANCE;
        entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
    };
    if (denied != 0)
        add(DENY_ACCESS, denied);
    add(SET_ACCESS, allowed);
    PACL acl = nullptr;
    DWORD status = SetEntriesInAclW(entries, access, nullptr, &acl);
    if (status == ERROR_SUCCESS) {
        std::wstring path = folder.toStdWString();
        status = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, acl, nullptr);
        LocalFree(acl);
    }
    FreeSid(everyone);
    return status == ERROR_SUCCESS ? QString() : QStringLiteral("setting the folder's rights failed: %1").arg(status);
}

// Reading and listing only: making a file or a folder in it is denied.
inline QString closeFolderToWriting(const QString &folder)
{
    return setFolderRights(folder, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE);
}

inline QString openFolderAgain(const QString &folder)
{
    return setFolderRights(folder, 0, FILE_ALL_ACCESS);
}

} // namespace quobin::testing
