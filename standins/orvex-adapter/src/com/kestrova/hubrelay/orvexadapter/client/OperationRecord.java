package com.kestrova.hubrelay.orvexadapter.client;

import java.io.BufferedWriter;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;

/**
 * What the server received: one line per accepted operation, in order, written through at
 * once so that a reader sees every line while the process still runs. Fields are
 * separated by tabs: method, instrumentation identifier, value, payload. Backslash, tab,
 * line feed and carriage return inside a field are written as \\, \t, \n and \r.
 */
final class OperationRecord {
    static final String FILE_NAME = "orvex-record.txt";

    private final Writer out;

    OperationRecord(File workingDirectory) throws AdapterException {
        File file = new File(workingDirectory, FILE_NAME);
        try {
            out = new BufferedWriter(new OutputStreamWriter(new FileOutputStream(file, true), StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new AdapterException("Unable to open the record file " + file + ": " + e.getMessage());
        }
    }

    synchronized void append(String method, String instrumentationId, String value, String payload)
            throws AdapterException {
        try {
            out.write(method + "\t" + escape(instrumentationId) + "\t" + escape(value) + "\t" + escape(payload) + "\n");
            out.flush();
        } catch (IOException e) {
            throw new AdapterException("Unable to record " + method + ": " + e.getMessage());
        }
    }

    private static String escape(String field) {
        if (field == null) {
            return "-";
        }
        StringBuilder escaped = new StringBuilder(field.length());
        for (int i = 0; i < field.length(); i++) {
            char c = field.charAt(i);
            switch (c) {
                case '\\': escaped.append("\\\\"); break;
                case '\t': escaped.append("\\t"); break;
                case '\n': escaped.append("\\n"); break;
                case '\r': escaped.append("\\r"); break;
                default: escaped.append(c);
            }
        }
        return escaped.toString();
    }
}
