package zorvex.admkit.qio.qioc;

/** Demo main class of the "one-click install" mode. */
public final class QiocOneClickInstaller {
  private QiocOneClickInstaller() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("one-click install", QiocOneClickInstaller.class, args);
  }
}
