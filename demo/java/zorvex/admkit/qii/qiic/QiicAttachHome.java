package zorvex.admkit.qii.qiic;

/** Demo main class of the "attach home" mode. */
public final class QiicAttachHome {
  private QiicAttachHome() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("attach home", QiicAttachHome.class, args);
  }
}
