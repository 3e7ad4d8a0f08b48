package zorvex.admkit.qii.qiic;

/** Demo main class of the "install" mode. */
public final class QiicInstaller {
  private QiicInstaller() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("install", QiicInstaller.class, args);
  }
}
