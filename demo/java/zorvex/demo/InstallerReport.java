package zorvex.demo;

import java.io.File;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * The demo installer's one piece of work: it reports what the launcher handed over (the
 * zorvex.installer properties, the class path, the arguments and the working directory)
 * and ends with the status that ZORVEX_DEMO_EXIT asks for, so that the launcher's own exit
 * status can be seen to be Java's.
 */
public final class InstallerReport {
  private InstallerReport() {}

  public static void run(String mode, Class<?> mainClass, String[] args) {
    StringBuilder out = new StringBuilder();
    out.append("\n=== Zorvex Meridal demo installer ===\n");
    out.append("Mode:        ").append(mode).append('\n');
    out.append("Main class:  ").append(mainClass.getName()).append('\n');
    out.append("Java:        ").append(System.getProperty("java.home"))
        .append(" (").append(System.getProperty("java.version")).append(")\n");
    out.append("Working dir: ").append(System.getProperty("user.dir")).append("\n\n");

    out.append("Properties handed over by the launcher:\n");
    Map<String, String> props = new TreeMap<>();
    for (String name : System.getProperties().stringPropertyNames()) {
      if (name.startsWith("zorvex.installer.")) props.put(name, System.getProperty(name));
    }
    for (Map.Entry<String, String> e : props.entrySet()) {
      out.append(String.format("  %-36s = %s%n", e.getKey(), e.getValue()));
    }

    String[] entries = System.getProperty("java.class.path").split(File.pathSeparator, -1);
    List<String> present = new ArrayList<>();
    for (String entry : entries) {
      if (!entry.isEmpty() && new File(entry).exists()) present.add(entry);
    }
    out.append(String.format("%nClass path: %d entries, %d of them present:%n",
        entries.length, present.size()));
    for (String entry : present) out.append("  ").append(entry).append('\n');

    out.append(String.format("%nArguments (%d):%n", args.length));
    for (int i = 0; i < args.length; i++) {
      out.append(String.format("  [%d] %s%n", i, args[i]));
    }

    int status = 0;
    String wanted = System.getenv("ZORVEX_DEMO_EXIT");
    if (wanted != null && !wanted.isEmpty()) status = Integer.parseInt(wanted.trim());
    out.append(String.format("%nThe demo installer ends with status %d.%n", status));
    System.out.print(out);
    System.out.flush();
    System.exit(status);
  }
}
