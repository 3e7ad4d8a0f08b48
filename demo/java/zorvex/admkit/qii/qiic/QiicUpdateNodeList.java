package zorvex.admkit.qii.qiic;

/** Demo main class of the "update node list" mode. */
public final class QiicUpdateNodeList {
  private QiicUpdateNodeList() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("update node list", QiicUpdateNodeList.class, args);
  }
}
