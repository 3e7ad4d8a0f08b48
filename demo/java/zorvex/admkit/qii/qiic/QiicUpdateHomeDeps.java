package zorvex.admkit.qii.qiic;

/** Demo main class of the "update home dependencies" mode. */
public final class QiicUpdateHomeDeps {
  private QiicUpdateHomeDeps() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("update home dependencies", QiicUpdateHomeDeps.class, args);
  }
}
