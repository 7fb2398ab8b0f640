; The Windows installer of VantrelVCom. scripts/windows.sh builds it from the deployed folder:
;
;   makensis -DVERSION=1.0.0 -DDEPLOY=<deployed folder> -DFILES=<file list> -DOUTFILE=<setup.exe> vantrelvcom.nsi
;
; FILES is an include file that windows.sh writes, one "Delete" per deployed file, so that the
; uninstaller removes exactly what was installed. The com0com driver is not shipped: its files
; go into the com0com folder next to the program (Parvex installs the driver).
;
; The service VantrelVComService is a component, off by default: chosen, it is installed for the
; folder %ProgramData%\Vantrel\VantrelVCom and started. A silent install chooses it with /SERVICE
; (setup.exe /S /SERVICE); an installed service stays chosen, so an update puts it back.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "VantrelVCom"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The program keeps pipes.json in the folder it is started in, so the shortcut starts it in a
; folder the user can write to, not in Program Files.
!define START_DIR "$APPDATA\Vantrel\${PRODUCT}"
!define SERVICE "VantrelVComService"
!define SERVICE_KEY "SYSTEM\CurrentControlSet\Services\${SERVICE}"

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vantrel\${PRODUCT}"
RequestExecutionLevel admin

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Removes the installed service, stopped first, with its event log source (its folder stays).
!macro RemoveService
    ClearErrors
    ReadRegStr $0 HKLM "${SERVICE_KEY}" "ImagePath"
    ${IfNot} ${Errors}
    ${AndIf} ${FileExists} "$INSTDIR\${SERVICE}.exe"
        nsExec::ExecToLog '"$INSTDIR\${SERVICE}.exe" --uninstall'
        Pop $0
    ${EndIf}
!macroend

Section "VantrelVCom" SecProgram
    SectionIn RO
    ; A running service holds its program: it goes before the files are replaced, and the service
    ; component puts it back.
    !insertmacro RemoveService
    SetOutPath "$INSTDIR"
    File /r "${DEPLOY}/*"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateDirectory "${START_DIR}"
    ; A shortcut starts in the folder that is the output path when it is made.
    SetOutPath "${START_DIR}"
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vantrel"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PRODUCT}.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Служба VantrelVComService" SecService
    ; For all users: $APPDATA is then %ProgramData%.
    SetShellVarContext all
    CreateDirectory "$APPDATA\Vantrel\${PRODUCT}"
    nsExec::ExecToLog '"$INSTDIR\${SERVICE}.exe" --install --dir "$APPDATA\Vantrel\${PRODUCT}"'
    Pop $0
    ${If} $0 == 0
        nsExec::ExecToLog '"$SYSDIR\sc.exe" start ${SERVICE}'
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "Служба ${SERVICE} не установлена или не запущена (код $0): подробности в списке выше." /SD IDOK
        SetErrorLevel 2
    ${EndIf}
    SetShellVarContext current
SectionEnd

Function .onInit
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/SERVICE" $R1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecService}
    ${EndIf}
    ClearErrors
    ReadRegStr $R1 HKLM "${SERVICE_KEY}" "ImagePath"
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecService}
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ; The service first, stopped, so that its program can go; its folder and pipes.json stay.
    !insertmacro RemoveService
    !include "${FILES}"
    Delete "$INSTDIR\uninstall.exe"
    ; Folders go only when empty: a com0com folder the user filled stays.
    RMDir "$INSTDIR\platforms"
    RMDir "$INSTDIR\styles"
    RMDir "$INSTDIR\imageformats"
    RMDir "$INSTDIR\translations"
    RMDir "$INSTDIR"
    RMDir "$PROGRAMFILES64\Vantrel"

    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    ; The start folder holds the user's pipes.json: it goes only when empty.
    RMDir "${START_DIR}"
    RMDir "$APPDATA\Vantrel"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
