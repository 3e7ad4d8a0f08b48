package zorvex.admkit.qip.qipc.qipcc;

/** Demo main class of the "prerequisite checker" mode. */
public final class QipccPrereqApp {
  private QipccPrereqApp() {}

  public static void main(String[] args) {
    zorvex.demo.InstallerReport.run("prerequisite checker", QipccPrereqApp.class, args);
  }
}
