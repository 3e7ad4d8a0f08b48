package zorvex.admkit.qii.qiis;

/** Demo main class of the "relink" mode. */
public final class QiisMakeDeps {
  private QiisMakeDeps() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("relink", QiisMakeDeps.class, args);
  }
}
