; The peer of the removal benchmark: an NSIS uninstaller for the fixture product's footprint.
; makensis builds a small installer whose only job is to write the uninstaller beside itself
; (NSIS writes uninstallers only at install time); the benchmark then runs that uninstaller in
; place, silently: voro_nsis_uninstall.exe /S _?=<install folder>
Unicode true
Target ${VORO_NSIS_TARGET}
Name "Voro"
OutFile "voro_nsis_writer.exe"
RequestExecutionLevel user
SilentInstall silent
SilentUnInstall silent
ShowUninstDetails nevershow
InstallDir "$PROGRAMFILES32\VoroWallPaper"

Section
  WriteUninstaller "$EXEDIR\voro_nsis_uninstall.exe"
SectionEnd

; What a typical NSIS uninstaller of this product removes: the shortcuts on both desktops and in
; both programs folders, the per-user data, the product's registry keys and Run values, the legacy
; uninstaller and the whole install folder. (Driver services need a plug-in or a helper program in
; NSIS; the peer leaves them alone.)
!macro RemoveShortcuts
  Delete "$DESKTOP\Quon壁纸.lnk"
  Delete "$DESKTOP\Voro壁纸.lnk"
  Delete "$DESKTOP\Voro壁纸Lite.lnk"
  RMDir /r "$SMPROGRAMS\Voro壁纸"
  RMDir /r "$SMPROGRAMS\Quon安全中心\Quon壁纸"
  RMDir "$SMPROGRAMS\Quon安全中心"
!macroend

Section "Uninstall"
  SetShellVarContext all
  !insertmacro RemoveShortcuts
  SetShellVarContext current
  !insertmacro RemoveShortcuts
  RMDir /r "$APPDATA\vorowp"
  SetRegView 32
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\App Paths\vorowp.exe"
  DeleteRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\vorowp"
  DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "vorowp"
  DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "vorowp-srv"
  SetRegView 64
  DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "vorowp"
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "vorowp-srv"
  DeleteRegKey HKCU "Software\VoroWallPaper"
  DeleteRegKey HKCR "VoroWallpaper"
  Delete "$PROGRAMFILES32\Quon\Dererore\Uninstall.exe"
  RMDir "$PROGRAMFILES32\Quon\Dererore"
  RMDir "$PROGRAMFILES32\Quon"
  RMDir /r "$INSTDIR"
SectionEnd
