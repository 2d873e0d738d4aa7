; The qd7-bus installer: qd7-bus.exe with its README and licence, its folder on the PATH, an entry
; among the installed programs, and an uninstaller that takes away exactly what the install added.
;
; Two ways, chosen at the start (or by /CurrentUser and /AllUsers on the command line):
;   for the user who runs it, without administrator rights: %LOCALAPPDATA%\Programs\qd7-bus, the
;     user's PATH, the user's list of installed programs;
;   for every user of the machine, with them: Program Files\qd7-bus, the system's PATH, the
;     machine's list. The installer asks for the rights (UAC) only then, in a copy of itself.
; It runs without elevation, so that a per-user install lands in the profile of the user who
; started it: one elevated with another account's password would write into that account's.
;
;   makensis -DVERSION=x.y.z -DVERSION4=x.y.z.0 -DSTAGE=DIR -DICON=FILE -DOUTFILE=FILE qd7-bus.nsi
;
; STAGE holds qd7-bus.exe, README.txt and LICENSE.txt. /S installs and uninstalls silently, for
; the user alone unless /AllUsers is given; a silent install for all users without administrator
; rights fails with exit code 740 (elevation required). /D=FOLDER installs elsewhere.

Unicode true
; qd7-bus.exe is a 64-bit program: so is its installer, which then sees the 64-bit Program Files
; and registry without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all

!include LogicLib.nsh
!include MUI2.nsh
!include nsDialogs.nsh
!include WinMessages.nsh
!include FileFunc.nsh

!define PRODUCT "qd7-bus"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define USER_ENVIRONMENT "Environment"
!define SYSTEM_ENVIRONMENT "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"
!define ERROR_ELEVATION_REQUIRED 740

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "The qd7test developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The qd7test developers. MIT licence."

; "user" or "machine"; where the PATH is kept for that way; whether /D named the folder.
Var Mode
Var EnvironmentKey
Var FolderGiven
Var UserButton
Var MachineButton

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
Page custom ModePage ModePageLeave
; The MIT licence grants its rights without asking for consent: the page shows it and goes on.
!define MUI_PAGE_HEADER_TEXT "Licence"
!define MUI_PAGE_HEADER_SUBTEXT "The terms under which qd7-bus ${VERSION} is given to you."
!define MUI_LICENSEPAGE_TEXT_TOP "qd7-bus is free software under the MIT licence:"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Nothing needs to be accepted to install and use qd7-bus."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The PATH is one registry string of entries apart by ";". These functions take it apart entry by
; entry and never write back a value they could not read whole: NSIS reads at most
; NSIS_MAX_STRLEN characters and gives an empty string for a longer value. Which PATH, the user's
; or the system's, follows the shell context (SHCTX) and $EnvironmentKey.
;
; PathWithout: $0 the PATH, $1 the folder -> $2 the PATH without every entry naming the folder
; (case aside, with or without a final backslash), $3 how many entries were taken out. Every other
; entry, empty ones too, stays as it was and where it was.
!macro DEFINE_SHARED_FUNCTIONS un
Function ${un}PathWithout
    Push $4
    Push $5
    Push $6
    Push $7
    Push $8
    StrCpy $2 ""
    StrCpy $3 0
    StrCpy $4 ""        ; the entry being read
    StrCpy $5 0         ; position in $0
    StrLen $6 $0
    StrCpy $8 0         ; no entry kept yet
    ${Do}
        ${If} $5 < $6
            StrCpy $7 $0 1 $5
        ${Else}
            StrCpy $7 ";"   ; the end of the string ends the last entry
        ${EndIf}
        ${If} $7 == ";"
            ${If} $4 == $1
            ${OrIf} $4 == "$1\"
                IntOp $3 $3 + 1
            ${Else}
                ${If} $8 == 0
                    StrCpy $2 $4
                    StrCpy $8 1
                ${Else}
                    StrCpy $2 "$2;$4"
                ${EndIf}
            ${EndIf}
            StrCpy $4 ""
        ${Else}
            StrCpy $4 "$4$7"
        ${EndIf}
        IntOp $5 $5 + 1
    ${LoopUntil} $5 > $6
    Pop $8
    Pop $7
    Pop $6
    Pop $5
    Pop $4
FunctionEnd

; ReadPath: $0 the PATH, $9 "absent", "read" or "unreadable" (longer than NSIS can hold, or not a
; string): an unreadable PATH is left alone.
Function ${un}ReadPath
    ClearErrors
    ReadRegStr $0 SHCTX $EnvironmentKey "Path"
    ${IfNot} ${Errors}
        StrCpy $9 "read"
        Return
    ${EndIf}
    StrCpy $9 "absent"
    StrCpy $0 ""
    Push $1
    Push $2
    StrCpy $1 0
    ${Do}
        ClearErrors
        EnumRegValue $2 SHCTX $EnvironmentKey $1
        ${If} ${Errors}
        ${OrIf} $2 == ""
            ${Break}
        ${EndIf}
        ${If} $2 == "Path"
            StrCpy $9 "unreadable"
            ${Break}
        ${EndIf}
        IntOp $1 $1 + 1
    ${Loop}
    Pop $2
    Pop $1
FunctionEnd

; Open windows (Explorer, and the command prompts it starts) read the new PATH.
Function ${un}AnnouncePath
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

; SetMode: the way named in $Mode, with the shell context, the PATH's key and the folder that go
; with it ($INSTDIR only where /D named none).
Function ${un}SetMode
    ${If} $Mode == "machine"
        SetShellVarContext all
        StrCpy $EnvironmentKey "${SYSTEM_ENVIRONMENT}"
        ${If} $FolderGiven != 1
            StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
        ${EndIf}
    ${Else}
        SetShellVarContext current
        StrCpy $EnvironmentKey "${USER_ENVIRONMENT}"
        ${If} $FolderGiven != 1
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
        ${EndIf}
    ${EndIf}
FunctionEnd

; IsAdmin: $0 1 when this process holds administrator rights now (elevated), else 0.
Function ${un}IsAdmin
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        StrCpy $0 1
    ${Else}
        StrCpy $0 0
    ${EndIf}
FunctionEnd

; ModeFromCommandLine: $Mode from /AllUsers or /CurrentUser, else empty.
Function ${un}ModeFromCommandLine
    StrCpy $Mode ""
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/AllUsers" $1
    ${IfNot} ${Errors}
        StrCpy $Mode "machine"
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/CurrentUser" $1
    ${IfNot} ${Errors}
        StrCpy $Mode "user"
    ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_SHARED_FUNCTIONS ""
!insertmacro DEFINE_SHARED_FUNCTIONS "un."

Function .onInit
    ${If} $INSTDIR != ""
        StrCpy $FolderGiven 1
    ${EndIf}
    Call ModeFromCommandLine
    ${If} $Mode == ""
        StrCpy $Mode "user"  ; the page asks, when there is one
    ${ElseIf} $Mode == "machine"
        Call IsAdmin
        ${If} $0 != 1
            ${If} ${Silent}
                SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
                Quit
            ${EndIf}
            ; Asked again, with the rights, by a copy of the installer.
            ExecShell "runas" "$EXEPATH" "/AllUsers"
            Quit
        ${EndIf}
    ${EndIf}
    Call SetMode
FunctionEnd

Function ModePage
    ; Given on the command line: nothing to ask.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/AllUsers" $1
    ${IfNot} ${Errors}
        Abort
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/CurrentUser" $1
    ${IfNot} ${Errors}
        Abort
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "Install for" "Who is to use qd7-bus on this computer?"
    nsDialogs::Create 1018
    Pop $0
    ${NSD_CreateRadioButton} 0 10u 100% 12u "&Only for me (no administrator rights needed)"
    Pop $UserButton
    ${NSD_CreateLabel} 12u 24u 95% 20u "Into $LOCALAPPDATA\Programs\${PRODUCT}, on your PATH."
    Pop $0
    ${NSD_CreateRadioButton} 0 52u 100% 12u "&For all users of this computer (administrator rights)"
    Pop $MachineButton
    ${NSD_CreateLabel} 12u 66u 95% 20u "Into $PROGRAMFILES64\${PRODUCT}, on the system's PATH."
    Pop $0
    ${If} $Mode == "machine"
        ${NSD_Check} $MachineButton
    ${Else}
        ${NSD_Check} $UserButton
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function ModePageLeave
    ${NSD_GetState} $MachineButton $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Mode "machine"
        Call IsAdmin
        ${If} $0 != 1
            ; The rest is done by a copy of the installer that has the rights.
            ClearErrors
            ExecShell "runas" "$EXEPATH" "/AllUsers"
            ${If} ${Errors}
                MessageBox MB_ICONEXCLAMATION|MB_OK "Installing for all users needs administrator rights. Choose 'Only for me', or start the installer again and allow it to make changes."
                Abort
            ${EndIf}
            Quit
        ${EndIf}
    ${Else}
        StrCpy $Mode "user"
    ${EndIf}
    Call SetMode
FunctionEnd

Function AddToPath
    Call ReadPath
    ${If} $9 == "unreadable"
        DetailPrint "PATH not changed: it is too long to be edited safely"
        MessageBox MB_ICONINFORMATION|MB_OK "The PATH is too long to be changed safely. Add $INSTDIR to it yourself to run qd7-bus from any folder." /SD IDOK
        Return
    ${EndIf}
    StrCpy $1 $INSTDIR
    Call PathWithout
    ${If} $3 > 0
        ; Kept by an earlier install of this one (a reinstall), or there before: only the
        ; uninstall of the install that added it takes it away.
        DetailPrint "PATH already holds $INSTDIR"
        Return
    ${EndIf}
    StrLen $4 $0
    StrLen $5 $INSTDIR
    IntOp $4 $4 + $5
    ${If} $4 >= ${NSIS_MAX_STRLEN}
        DetailPrint "PATH not changed: it would grow too long to be edited safely"
        MessageBox MB_ICONINFORMATION|MB_OK "The PATH is too long to be changed safely. Add $INSTDIR to it yourself to run qd7-bus from any folder." /SD IDOK
        Return
    ${EndIf}
    ${If} $0 == ""
        StrCpy $0 $INSTDIR
    ${Else}
        StrCpy $4 $0 1 -1
        ${If} $4 == ";"
            StrCpy $0 "$0$INSTDIR"
        ${Else}
            StrCpy $0 "$0;$INSTDIR"
        ${EndIf}
    ${EndIf}
    ; An expandable string, as Windows' own editor writes it, so that %VARIABLES% in it still work.
    WriteRegExpandStr SHCTX $EnvironmentKey "Path" $0
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "PathAdded" 1
    DetailPrint "Added $INSTDIR to the PATH"
    Call AnnouncePath
FunctionEnd

Function un.RemoveFromPath
    ; Only what this install added.
    ClearErrors
    ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "PathAdded"
    ${If} ${Errors}
    ${OrIf} $0 != 1
        Return
    ${EndIf}
    Call un.ReadPath
    ${If} $9 != "read"
        ${If} $9 == "unreadable"
            DetailPrint "PATH not changed: it is too long to be edited safely; remove $INSTDIR yourself"
        ${EndIf}
        Return
    ${EndIf}
    StrCpy $1 $INSTDIR
    Call un.PathWithout
    ${If} $3 == 0
        Return
    ${EndIf}
    ${If} $2 == ""
        DeleteRegValue SHCTX $EnvironmentKey "Path"
    ${Else}
        WriteRegExpandStr SHCTX $EnvironmentKey "Path" $2
    ${EndIf}
    DetailPrint "Removed $INSTDIR from the PATH"
    Call un.AnnouncePath
FunctionEnd

Section "qd7-bus"
    SetRegView 64
    SetOutPath "$INSTDIR"
    File "${STAGE}/qd7-bus.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/LICENSE.txt"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ${If} $Mode == "machine"
        StrCpy $1 "/AllUsers"
    ${Else}
        StrCpy $1 "/CurrentUser"
    ${EndIf}
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The qd7test developers"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qd7-bus.exe,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $1'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S $1'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $2 $3
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

    Call AddToPath
SectionEnd

Function un.onInit
    StrCpy $FolderGiven 1  ; the uninstaller's folder is the install's
    Call un.ModeFromCommandLine
    ${If} $Mode == ""
        ; Started by hand: the way whose entry names this folder.
        SetRegView 64
        ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${If} $0 == $INSTDIR
            StrCpy $Mode "machine"
        ${Else}
            StrCpy $Mode "user"
        ${EndIf}
    ${EndIf}
    ${If} $Mode == "machine"
        Call un.IsAdmin
        ${If} $0 != 1
            ${If} ${Silent}
                SetErrorLevel ${ERROR_ELEVATION_REQUIRED}
                Quit
            ${EndIf}
            ExecShell "runas" "$INSTDIR\uninstall.exe" "/AllUsers"
            Quit
        ${EndIf}
    ${EndIf}
    Call un.SetMode
FunctionEnd

Section "Uninstall"
    SetRegView 64
    Call un.RemoveFromPath
    Delete "$INSTDIR\qd7-bus.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; Only an empty folder goes: whatever else someone put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
