; The Windows installer of VantrelVCom. scripts/windows.sh builds it from the deployed folder:
;
;   makensis -DVERSION=1.0.0 -DDEPLOY=<deployed folder> -DFILES=<file list> -DOUTFILE=<setup.exe> vantrelvcom.nsi
;
; FILES is an include file that windows.sh writes, one "Delete" per deployed file, so that the
; uninstaller removes exactly what was installed. The com0com driver is not shipped: its files
; go into the com0com folder next to the program (Parvex installs the driver).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "VantrelVCom"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The program keeps pipes.json in the folder it is started in, so the shortcut starts it in a
; folder the user can write to, not in Program Files.
!define START_DIR "$APPDATA\Vantrel\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Vantrel\${PRODUCT}"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
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

Section "Uninstall"
    !include "${FILES}"
    Delete "$INSTDIR\uninstall.exe"
    ; Folders go only when empty: a com0com folder the user filled stays.
    RMDir "$INSTDIR\platforms"
    RMDir "$INSTDIR\styles"
    RMDir "$INSTDIR\imageformats"
    RMDir "$INSTDIR"
    RMDir "$PROGRAMFILES64\Vantrel"

    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    ; The start folder holds the user's pipes.json: it goes only when empty.
    RMDir "${START_DIR}"
    RMDir "$APPDATA\Vantrel"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
