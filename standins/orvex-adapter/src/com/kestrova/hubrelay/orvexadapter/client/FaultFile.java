package com.kestrova.hubrelay.orvexadapter.client;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.Properties;

/**
 * A failure on request, for the tests of callers: while the file "orvex-fault.properties"
 * lies in the working directory, the operation whose name its key "method" holds is
 * refused with an AdapterException carrying the key "message", or no message at all when
 * that key is absent.
 */
final class FaultFile {
    static final String FILE_NAME = "orvex-fault.properties";

    private final File file;

    FaultFile(File workingDirectory) {
        file = new File(workingDirectory, FILE_NAME);
    }

    void raiseIfRequested(String method) throws AdapterException {
        if (!file.isFile()) {
            return;
        }
        Properties fault = new Properties();
        try (InputStream in = new FileInputStream(file)) {
            fault.load(in);
        } catch (IOException e) {
            return;
        }
        if (method.equals(fault.getProperty("method"))) {
            throw new AdapterException(fault.getProperty("message"));
        }
    }
}
