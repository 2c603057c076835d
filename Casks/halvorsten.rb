# Halvorsten for Homebrew, as a cask over the installer package; this repository is its own tap:
#   brew tap quorvani/halvorsten https://github.com/quorvani/halvorsten
#   brew install --cask quorvani/halvorsten/halvorsten
# A root daemon must not run from Homebrew's prefix, which its user owns: the package puts the
# daemon, its launchd job and the scripts root runs where only root can change them, in
# /Library/Application Support/Quorvani/Halvorsten. Homebrew's own sudo steps still run from
# files that its user owns (the package staged in the Caskroom, and these stanzas read again
# from there at uninstall), so the cask trusts that user as a clone trusts its owner. Each
# release's workflow writes its version and its package's sha256 here; until the first release,
# the cask has no package to install.
cask "halvorsten" do
  version "0.1.0"
  sha256 "0000000000000000000000000000000000000000000000000000000000000000"

  url "https://github.com/quorvani/halvorsten/releases/download/v#{version}/Halvorsten-#{version}.pkg"
  name "Halvorsten"
  desc "Switches sleep prevention off while running on battery"
  homepage "https://github.com/quorvani/halvorsten"

  depends_on macos: :ventura

  pkg "Halvorsten-#{version}.pkg"

  # Homebrew runs these in its own order (cask/artifact/abstract_uninstall.rb,
  # ORDERED_DIRECTIVES): the job stopped and its plist removed, then the package's own uninstall
  # script, which removes the rest but the log and forgets the receipt, then any receipt left.
  uninstall launchctl: "com.quorvani.halvorsten",
            script:    {
              executable: "/Library/Application Support/Quorvani/Halvorsten/uninstall",
              sudo:       true,
            },
            pkgutil:   "com.quorvani.halvorsten"

  # No zap: Homebrew deletes with "rm -r -f" as root (cask/artifact/abstract_uninstall.rb,
  # uninstall_delete), and the log lies in /Library/Logs, which admin users may write. An admin
  # removes it without sudo: rm -f /Library/Logs/Quorvani-Halvorsten.log

  caveats <<~EOS
    Halvorsten runs as root, in the background, from
    /Library/Application Support/Quorvani/Halvorsten/halvorsten.
    Is this Mac protected now:
      sudo "/Library/Application Support/Quorvani/Halvorsten/halvorsten-status"
    On macOS 13 and later, keep it switched on under
    System Settings > General > Login Items > Allow in the Background.
  EOS
end
