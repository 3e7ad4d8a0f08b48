package zorvex.admkit.qii.qiic;

/** Demo main class of the "clean-up" mode. */
public final class QiicCleanup {
  private QiicCleanup() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("clean-up", QiicCleanup.class, args);
  }
}
