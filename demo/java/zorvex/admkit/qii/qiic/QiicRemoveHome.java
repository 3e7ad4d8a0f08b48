package zorvex.admkit.qii.qiic;

/** Demo main class of the "remove home" mode. */
public final class QiicRemoveHome {
  private QiicRemoveHome() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("remove home", QiicRemoveHome.class, args);
  }
}
