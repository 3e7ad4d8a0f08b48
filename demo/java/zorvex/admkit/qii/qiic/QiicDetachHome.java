package zorvex.admkit.qii.qiic;

/** Demo main class of the "detach home" mode. */
public final class QiicDetachHome {
  private QiicDetachHome() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("detach home", QiicDetachHome.class, args);
  }
}
