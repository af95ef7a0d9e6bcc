; The Windows installer: the program folder, a Start-menu entry with the
; icon, an uninstaller and its entry in the system's program list. Made by
; scripts/windows, which passes VERSION, STAGE (the folder to install), ICON,
; OUTFILE and UNLIST with -D. UNLIST is the list of the staged files and
; folders to remove: the uninstaller removes those and nothing else, so
; files of the user's own in the folder stay.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define NAME "避雷器监测"
!define KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\arrester-monitor"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\arrester-monitor"
InstallDirRegKey HKLM "${KEY}" "InstallLocation"
ShowInstDetails show

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=2052 "ProductName" "arrester-monitor"
VIAddVersionKey /LANG=2052 "FileDescription" "${NAME} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "The arrester-monitor developers"
VIAddVersionKey /LANG=2052 "LegalCopyright" "2026 The arrester-monitor developers"

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\arrester-monitor.exe" "" "$INSTDIR\arrester-monitor.exe" 0
  WriteRegStr HKLM "${KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${KEY}" "Publisher" "The arrester-monitor developers"
  WriteRegStr HKLM "${KEY}" "DisplayIcon" "$INSTDIR\arrester-monitor.exe"
  WriteRegStr HKLM "${KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}.lnk"
  !include "${UNLIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${KEY}"
SectionEnd
