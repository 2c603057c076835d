# Halvorsten for Homebrew; this repository is its own tap:
#   brew tap quorvani/halvorsten https://github.com/quorvani/halvorsten
#   brew install --HEAD quorvani/halvorsten/halvorsten
# Until the first release it builds from the default branch (--HEAD); each release's workflow
# writes the url and sha256 of its source archive here, and from then on the line works
# without --HEAD.
class Halvorsten < Formula
  desc "Switches sleep prevention off while a Mac runs on its battery"
  homepage "https://github.com/quorvani/halvorsten"
  head "https://github.com/quorvani/halvorsten.git", branch: "main"

  depends_on "cmake" => :build
  depends_on macos: :ventura

  def install
    system "cmake", "-S", ".", "-B", "build", "-DHALVORSTEN_TESTS=OFF", *std_cmake_args
    system "cmake", "--build", "build"
    libexec.install "build/halvorsten"
    man8.install "man/halvorsten.8"
    pkgshare.install "packaging/macos/halvorsten.newsyslog.conf"
    bin.install "scripts/halvorsten-status"
    bin.install "scripts/check-on-mac" => "halvorsten-check-on-mac"
  end

  def caveats
    <<~EOS
      Halvorsten runs as root, in the background:
        sudo brew services start halvorsten
      Is this Mac protected now: halvorsten-status
      Its log is /Library/Logs/Quorvani-Halvorsten.log; to rotate it as it grows:
        sudo cp #{opt_pkgshare}/halvorsten.newsyslog.conf /etc/newsyslog.d/halvorsten.conf
      Once started as root, Homebrew gives root some of its files, so to uninstall:
        sudo brew services stop halvorsten
        sudo chown -R "$USER" "$(brew --cellar halvorsten)" && brew uninstall halvorsten
        sudo rm -f /etc/newsyslog.d/halvorsten.conf
      Do not also install Halvorsten's installer package or run scripts/install-macos: two
      daemons would do the same job twice. On macOS 13 and later, keep it switched on under
      System Settings > General > Login Items > Allow in the Background.
    EOS
  end

  service do
    run opt_libexec/"halvorsten"
    require_root true
    keep_alive true
    process_type :background
  end

  test do
    # Started as a normal user it still subscribes to power-source changes and waits, and
    # writes nothing on its standard output and error, nor where it runs. Homebrew puts files
    # of its own in testpath before the test (formula.rb, setup_home), so what counts is that
    # the daemon adds none.
    before = testpath.children.sort
    output, writer = IO.pipe
    pid = spawn opt_libexec/"halvorsten", [:out, :err] => writer
    writer.close
    sleep 1
    begin
      assert_nil Process.wait(pid, Process::WNOHANG), "halvorsten ended within a second"
    ensure
      Process.kill("TERM", pid)
      Process.wait(pid)
    end
    assert_empty output.read
    assert_equal before, testpath.children.sort
  end
end
