; The qd7-bus installer: qd7-bus.exe with its README and licence into Program Files, that folder
; on the PATH of the user who installs, an entry among the installed programs, and an uninstaller
; that takes all of it away again and leaves the rest of the PATH as it was.
;
;   makensis -DVERSION=x.y.z -DVERSION4=x.y.z.0 -DSTAGE=DIR -DICON=FILE -DOUTFILE=FILE qd7-bus.nsi
;
; STAGE holds qd7-bus.exe, README.txt and LICENSE.txt. /S installs and uninstalls silently.

Unicode true
; qd7-bus.exe is a 64-bit program: so is its installer, which then sees the 64-bit Program Files
; and registry without redirection.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include LogicLib.nsh
!include MUI2.nsh
!include WinMessages.nsh
!include FileFunc.nsh

!define PRODUCT "qd7-bus"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define ENVIRONMENT_KEY "Environment"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "CompanyName" "The qd7test developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) 2026 The qd7test developers. MIT licence."

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
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
; NSIS_MAX_STRLEN characters and gives an empty string for a longer value.
;
; PathWithout: $0 the PATH, $1 the folder -> $2 the PATH without every entry naming the folder
; (case aside, with or without a final backslash), $3 how many entries were taken out. Every other
; entry, empty ones too, stays as it was and where it was.
!macro DEFINE_PATH_FUNCTIONS un
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

; ReadUserPath: $0 the user's PATH, $9 "absent", "read" or "unreadable" (longer than NSIS can hold,
; or not a string): an unreadable PATH is left alone.
Function ${un}ReadUserPath
    ClearErrors
    ReadRegStr $0 HKCU "${ENVIRONMENT_KEY}" "Path"
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
        EnumRegValue $2 HKCU "${ENVIRONMENT_KEY}" $1
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
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:${ENVIRONMENT_KEY}" /TIMEOUT=5000
FunctionEnd
!macroend
!insertmacro DEFINE_PATH_FUNCTIONS ""
!insertmacro DEFINE_PATH_FUNCTIONS "un."

Function AddToUserPath
    Call ReadUserPath
    ${If} $9 == "unreadable"
        DetailPrint "PATH not changed: it is too long to be edited safely"
        MessageBox MB_ICONINFORMATION|MB_OK "Your PATH is too long to be changed safely. Add $INSTDIR to it yourself to run qd7-bus from any folder." /SD IDOK
        Return
    ${EndIf}
    StrCpy $1 $INSTDIR
    Call PathWithout
    ${If} $3 > 0
        DetailPrint "PATH already holds $INSTDIR"
        Return
    ${EndIf}
    StrLen $4 $0
    StrLen $5 $INSTDIR
    IntOp $4 $4 + $5
    ${If} $4 >= ${NSIS_MAX_STRLEN}
        DetailPrint "PATH not changed: it would grow too long to be edited safely"
        MessageBox MB_ICONINFORMATION|MB_OK "Your PATH is too long to be changed safely. Add $INSTDIR to it yourself to run qd7-bus from any folder." /SD IDOK
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
    WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" $0
    DetailPrint "Added $INSTDIR to the PATH"
    Call AnnouncePath
FunctionEnd

Function un.RemoveFromUserPath
    Call un.ReadUserPath
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
        DeleteRegValue HKCU "${ENVIRONMENT_KEY}" "Path"
    ${Else}
        WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" $2
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

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The qd7test developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qd7-bus.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    Call AddToUserPath
SectionEnd

Section "Uninstall"
    SetRegView 64
    Call un.RemoveFromUserPath
    Delete "$INSTDIR\qd7-bus.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    ; Only an empty folder goes: whatever else someone put there stays.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
