package com.kestrova.hubrelay.orvexadapter.client;

import java.io.File;
import java.io.FileWriter;
import java.io.IOException;
import java.io.PrintWriter;
import java.time.LocalDateTime;

/** The adapter's own trace file; "low", "medium" or "high" decides how much is written. */
final class AdapterTrace {
    static final int LOW = 0;
    static final int MEDIUM = 1;
    static final int HIGH = 2;

    private final PrintWriter out;
    private final int level;

    AdapterTrace(File file, boolean enabled, String levelWord) {
        PrintWriter writer = null;
        if (enabled) {
            try {
                writer = new PrintWriter(new FileWriter(file, true), true);
            } catch (IOException e) {
                writer = null;  // tracing is a help, never a reason to refuse work
            }
        }
        out = writer;
        level = "high".equalsIgnoreCase(levelWord) ? HIGH : "medium".equalsIgnoreCase(levelWord) ? MEDIUM : LOW;
    }

    synchronized void write(int lineLevel, String text) {
        if (out != null && lineLevel <= level) {
            out.println(LocalDateTime.now() + " " + text);
        }
    }
}
