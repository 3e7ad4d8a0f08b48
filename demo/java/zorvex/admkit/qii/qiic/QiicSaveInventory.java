package zorvex.admkit.qii.qiic;

/** Demo main class of the "save inventory" mode. */
public final class QiicSaveInventory {
  private QiicSaveInventory() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("save inventory", QiicSaveInventory.class, args);
  }
}
