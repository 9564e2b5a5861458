# A prefix made by Wine's 64-bit loader alone lacks the 32-bit registry view's standard keys that
# every 64-bit Windows has; create them so that 32-bit-view code meets a normal machine.
for key in Run RunOnce Uninstall "App Paths"; do
  "$VORO_WINE_LOADER" reg add "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\$key" /f /reg:32
done
