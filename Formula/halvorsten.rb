# Halvorsten for Homebrew; this repository is its own tap:
#   brew tap quorvani/halvorsten https://github.com/quorvani/halvorsten
#   brew install quorvani/halvorsten/halvorsten
# Until the first release it builds from the default branch (brew install --HEAD); a release
# adds the url and sha256 of its source archive (the release workflow prints both).
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
  end

  def caveats
    <<~EOS
      Halvorsten runs as root, in the background:
        sudo brew services start halvorsten
      Its log is /Library/Logs/Quorvani-Halvorsten.log; to rotate it as it grows:
        sudo cp #{opt_pkgshare}/halvorsten.newsyslog.conf /etc/newsyslog.d/halvorsten.conf
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
    # writes nothing where it runs or on its standard output and error.
    output = testpath/"output"
    pid = spawn opt_libexec/"halvorsten", [:out, :err] => output.to_s
    sleep 1
    begin
      assert_nil Process.wait(pid, Process::WNOHANG), "halvorsten ended within a second"
    ensure
      Process.kill("TERM", pid)
      Process.wait(pid)
    end
    assert_empty output.read
    assert_equal [output], testpath.children
  end
end
