package com.kestrova.hubrelay.orvexadapter.client;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.Properties;

/** The properties file the adapter is created with, checked before anything is used. */
final class AdapterConfiguration {
    private static final String[] REQUIRED_KEYS = {
        "adapter.type", "adapter.working.dir", "trace.filename",
        "transport.class.name", "transport.request.address", "transport.request.port",
        "transport.response.address", "transport.response.port",
        "transport.server.ip.address", "transport.server.qlink.port",
    };
    private static final String[] PORT_KEYS = {
        "transport.request.port", "transport.response.port",
        "transport.server.qlink.port", "transport.proxy.qlink.port",
    };

    private final Properties properties = new Properties();

    private AdapterConfiguration() {
    }

    static AdapterConfiguration read(String path) throws AdapterException {
        if (path == null || path.isEmpty()) {
            throw new AdapterException("No configuration file given");
        }
        AdapterConfiguration configuration = new AdapterConfiguration();
        try (InputStream in = new FileInputStream(path)) {
            configuration.properties.load(in);
        } catch (IOException e) {
            throw new AdapterException("Unable to read the configuration file " + path + ": " + e.getMessage());
        }
        configuration.check(path);
        return configuration;
    }

    private void check(String path) throws AdapterException {
        for (String key : REQUIRED_KEYS) {
            String value = properties.getProperty(key);
            if (value == null || value.trim().isEmpty()) {
                throw new AdapterException("The configuration file " + path + " lacks the key " + key);
            }
        }
        for (String key : PORT_KEYS) {
            String value = properties.getProperty(key);
            if (value == null) {
                continue;
            }
            int port;
            try {
                port = Integer.parseInt(value.trim());
            } catch (NumberFormatException e) {
                throw new AdapterException("The key " + key + " of " + path + " is not a port number: " + value);
            }
            if (port < 0 || port > 65535) {
                throw new AdapterException("The key " + key + " of " + path + " is out of the port range: " + value);
            }
        }
        File workingDir = workingDirectory();
        if (!workingDir.isDirectory()) {
            throw new AdapterException("The key adapter.working.dir of " + path + " names no directory: " + workingDir);
        }
    }

    String get(String key) {
        String value = properties.getProperty(key);
        return value == null ? null : value.trim();
    }

    File workingDirectory() {
        return new File(get("adapter.working.dir"));
    }

    /** A file name of the configuration; a relative one lies in the working directory. */
    File fileInWorkingDirectory(String key) {
        File file = new File(get(key));
        return file.isAbsolute() ? file : new File(workingDirectory(), file.getPath());
    }
}
