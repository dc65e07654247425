; The Quobin installer for Windows: a per-user install that needs no
; administrator, with Start-menu entries and an uninstaller.
;   makensis -DVERSION=3.0 -DBIN=<folder of the .exe files> -DSRC=<source tree> -DOUT=<installer> quobin.nsi
;          -DREADME=<README.txt> -DLICENCES=<folder of COPYRIGHT-PostgreSQL.txt and LICENSE-OpenSSL.txt>
; Silent: quobin-VERSION-windows-x64-setup.exe /S [/D=FOLDER]
Unicode true
; A 64-bit installer for 64-bit programs (it also runs where only 64-bit
; Windows programs can, as under a 64-bit-only Wine).
Target amd64-unicode
!include "MUI2.nsh"

Name "Quobin ${VERSION}"
OutFile "${OUT}"
RequestExecutionLevel user
; Below the user's own profile, as per-user programs are installed.
InstallDir "$LOCALAPPDATA\Programs\Quobin"
InstallDirRegKey HKCU "Software\Kelsar\Quobin" "InstallDir"
SetCompressor /SOLID lzma
BrandingText "Quobin ${VERSION}"

!define MUI_ICON "${SRC}/app/icons/quobin.ico"
!define MUI_UNICON "${SRC}/app/icons/quobin.ico"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${SRC}/packaging/windows/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quobin"

; A file that cannot be written is never skipped: the install stops instead
; (in silent mode at once, with a non-zero exit status).
AllowSkipFiles off

; The programs must not be running while their files are replaced or
; removed: Windows keeps a running program's file, and the install would be
; left half old, or half removed. A program file that cannot be opened for
; writing is in use. Interactive: the operator is asked to close it and may
; try again or cancel; silent (/S): exit status 2, nothing changed.
!macro REQUIRE_PROGRAMS_CLOSED un
Function ${un}RequireProgramsClosed
    retry:
    StrCpy $1 ""
    ClearErrors
    !insertmacro CHECK_NOT_RUNNING "quobin.exe"
    !insertmacro CHECK_NOT_RUNNING "quobin-cli.exe"
    !insertmacro CHECK_NOT_RUNNING "quobin-station.exe"
    StrCmp $1 "" done
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Quobin is running ($1). Close it, then choose Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 2
    Quit
    done:
FunctionEnd
!macroend

; Adds NAME to $1 when $INSTDIR\NAME is there and in use.
!macro CHECK_NOT_RUNNING NAME
    IfFileExists "$INSTDIR\${NAME}" 0 +7
    ClearErrors
    FileOpen $0 "$INSTDIR\${NAME}" a
    IfErrors 0 +3
    StrCpy $1 "$1${NAME} "
    Goto +2
    FileClose $0
!macroend
!insertmacro REQUIRE_PROGRAMS_CLOSED ""
!insertmacro REQUIRE_PROGRAMS_CLOSED "un."

Section "Quobin"
    SetShellVarContext current
    Call RequireProgramsClosed
    SetOutPath "$INSTDIR"
    File "${BIN}/quobin.exe"
    File "${BIN}/quobin-cli.exe"
    File "${BIN}/quobin-station.exe"
    File "/oname=README.txt" "${README}"
    File "/oname=LICENSE.txt" "${SRC}/packaging/windows/LICENSE.txt"
    File "${LICENCES}/COPYRIGHT-PostgreSQL.txt"
    File "${LICENCES}/LICENSE-OpenSSL.txt"
    ; The mark that makes this folder an installation: the programs keep
    ; their settings in %APPDATA%\Quobin, never beside themselves.
    FileOpen $0 "$INSTDIR\installed.txt" w
    FileWrite $0 "Installed by the Quobin installer: settings are kept in %APPDATA%\Quobin, records in %LOCALAPPDATA%\Quobin.$\r$\n"
    FileClose $0
    WriteUninstaller "$INSTDIR\Uninstall Quobin.exe"

    CreateDirectory "$SMPROGRAMS\Quobin"
    CreateShortcut "$SMPROGRAMS\Quobin\Quobin.lnk" "$INSTDIR\quobin.exe"
    CreateShortcut "$SMPROGRAMS\Quobin\Quobin Station.lnk" "$INSTDIR\quobin-station.exe"
    CreateShortcut "$SMPROGRAMS\Quobin\Uninstall Quobin.lnk" "$INSTDIR\Uninstall Quobin.exe"

    WriteRegStr HKCU "Software\Kelsar\Quobin" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quobin"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Kelsar"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quobin.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall Quobin.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall Quobin.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The program files go; the operator's settings (%APPDATA%\Quobin) and the
; station's records (%LOCALAPPDATA%\Quobin) stay, as they are the operator's.
; Checked before anything goes; the programs go first, and should one stay
; all the same, the uninstaller, the mark and the entries stay with it, so
; the install is whole and can be uninstalled again.
Section "Uninstall"
    SetShellVarContext current
    Call un.RequireProgramsClosed
    ClearErrors
    Delete "$INSTDIR\quobin.exe"
    Delete "$INSTDIR\quobin-cli.exe"
    Delete "$INSTDIR\quobin-station.exe"
    IfErrors 0 +3
    SetErrorLevel 2
    Quit
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\COPYRIGHT-PostgreSQL.txt"
    Delete "$INSTDIR\LICENSE-OpenSSL.txt"
    Delete "$INSTDIR\installed.txt"
    Delete "$INSTDIR\Uninstall Quobin.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\Quobin\Quobin.lnk"
    Delete "$SMPROGRAMS\Quobin\Quobin Station.lnk"
    Delete "$SMPROGRAMS\Quobin\Uninstall Quobin.lnk"
    RMDir "$SMPROGRAMS\Quobin"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    DeleteRegKey HKCU "Software\Kelsar\Quobin"
SectionEnd
