package zorvex.admkit.qii.qiic;

/** Demo main class of the "clone set-up" mode. */
public final class QiicPreCloneSetup {
  private QiicPreCloneSetup() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("clone set-up", QiicPreCloneSetup.class, args);
  }
}
