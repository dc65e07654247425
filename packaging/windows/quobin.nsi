; The Quobin installer for Windows: a per-user install that needs no
; administrator, with Start-menu entries and an uninstaller.
;   makensis -DVERSION=3.0 -DBIN=<folder of the .exe files> -DSRC=<source tree> -DOUT=<installer> quobin.nsi
;          -DREADME=<README.txt>
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

Section "Quobin"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${BIN}/quobin.exe"
    File "${BIN}/quobin-cli.exe"
    File "${BIN}/quobin-station.exe"
    File "/oname=README.txt" "${README}"
    File "/oname=LICENSE.txt" "${SRC}/packaging/windows/LICENSE.txt"
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
Section "Uninstall"
    SetShellVarContext current
    Delete "$INSTDIR\quobin.exe"
    Delete "$INSTDIR\quobin-cli.exe"
    Delete "$INSTDIR\quobin-station.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
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
