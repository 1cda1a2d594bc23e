package com.kestrova.hubrelay.orvexadapter.client;

import com.kestrova.hubrelay.orvexadapter.parameter.EventsParameter;
import com.kestrova.hubrelay.orvexadapter.parameter.InstancesParameter;
import com.kestrova.hubrelay.orvexadapter.parameter.LinksParameter;
import java.util.HashMap;
import java.util.Map;

/**
 * The client side of the Orvex adapter: one instance per process, created from a
 * properties file. Every operation belongs to a registered instrumentation and is
 * appended to the record file of the working directory once it has been accepted.
 */
public class Adapter {
    // Capability flags of an instrumentation (combined by addition).
    public static final int SUPPORTS_NONE = 0x4000;
    public static final int SUPPORTS_BULK = 0x100;
    public static final int SUPPORTS_DELTA = 0x200;
    public static final int SUPPORTS_ATWILL = 0x400;
    public static final int SUPPORTS_EVENTS = 0x800;
    public static final int SUPPORTS_METHODS = 0x1000;
    // Kinds of discovery.
    public static final int BULK_DISCOVERY = 31;
    public static final int DELTA_DISCOVERY = 37;
    // Response waits: a number of seconds (0 or more) or one of these two.
    public static final int ASYNC_ERROR_RESPONSE = -2;
    public static final int WAIT_RESPONSE_FOREVER = -1;

    private static final int ALL_CAPABILITIES =
            SUPPORTS_BULK | SUPPORTS_DELTA | SUPPORTS_ATWILL | SUPPORTS_EVENTS | SUPPORTS_METHODS;

    private static Adapter instance;

    private final AdapterConfiguration configuration;
    private final AdapterTrace trace;
    private final OperationRecord record;
    private final FaultFile faults;
    private final Map<String, Boolean> discoveryOpenById = new HashMap<>();
    private boolean authenticated;
    private int registrations;
    private AdapterListenerIF listener;

    private Adapter(AdapterConfiguration configuration) throws AdapterException {
        this.configuration = configuration;
        trace = new AdapterTrace(configuration.fileInWorkingDirectory("trace.filename"),
                !"false".equalsIgnoreCase(configuration.get("adapter.trace.enable")),
                configuration.get("adapter.trace.level"));
        record = new OperationRecord(configuration.workingDirectory());
        faults = new FaultFile(configuration.workingDirectory());
    }

    /** The adapter of this process; the first call creates it from the configuration file. */
    public static synchronized Adapter getInstance(String configurationFile) throws AdapterException {
        if (instance == null) {
            Adapter created = new Adapter(AdapterConfiguration.read(configurationFile));
            created.trace.write(AdapterTrace.LOW, "Adapter created from " + configurationFile + " for "
                    + created.configuration.get("transport.server.ip.address") + ":"
                    + created.configuration.get("transport.server.qlink.port"));
            instance = created;
        }
        return instance;
    }

    public synchronized void authenticate(String sign, String certificate) throws AdapterException {
        faults.raiseIfRequested("authenticate");
        if (isBlank(sign) || isBlank(certificate)) {
            throw new AdapterException("Authentication refused: empty sign or certificate");
        }
        authenticated = true;
        trace.write(AdapterTrace.MEDIUM, "Authenticated");
    }

    public synchronized String registerInstrumentation(String name, int flags, String[] classes, String[] linkTypes)
            throws AdapterException {
        return register("registerInstrumentation", name, flags, classes, linkTypes);
    }

    public synchronized String registerLoggingMode(String name, int flags, String[] classes, String[] linkTypes)
            throws AdapterException {
        return register("registerLoggingMode", name, flags, classes, linkTypes);
    }

    public synchronized void unregisterInstrumentation(String id) throws AdapterException {
        open("unregisterInstrumentation", id);
        discoveryOpenById.remove(id);
        record.append("unregisterInstrumentation", id, null, null);
    }

    public synchronized void beginDiscovery(String id, int kind) throws AdapterException {
        open("beginDiscovery", id);
        String kindName = kind == BULK_DISCOVERY ? "BULK_DISCOVERY" : kind == DELTA_DISCOVERY ? "DELTA_DISCOVERY" : null;
        if (kindName == null) {
            throw new AdapterException("Unknown discovery kind " + kind);
        }
        if (discoveryOpenById.get(id)) {
            throw new AdapterException("A discovery is already open for the instrumentation " + id);
        }
        discoveryOpenById.put(id, true);
        record.append("beginDiscovery", id, kindName, null);
    }

    public synchronized void commitDiscovery(String id) throws AdapterException {
        endDiscovery("commitDiscovery", id);
    }

    public synchronized void rollbackDiscovery(String id) throws AdapterException {
        endDiscovery("rollbackDiscovery", id);
    }

    public synchronized void addObjectInstances(String id, InstancesParameter parameter, int wait)
            throws AdapterException {
        send("addObjectInstances", id, parameter == null ? null : parameter.getXmlText(), wait);
    }

    public synchronized void modifyObjectInstances(String id, InstancesParameter parameter, int wait)
            throws AdapterException {
        send("modifyObjectInstances", id, parameter == null ? null : parameter.getXmlText(), wait);
    }

    public synchronized void deleteObjectInstances(String id, InstancesParameter parameter, int wait)
            throws AdapterException {
        send("deleteObjectInstances", id, parameter == null ? null : parameter.getXmlText(), wait);
    }

    public synchronized void addLinkInstances(String id, LinksParameter parameter, int wait) throws AdapterException {
        send("addLinkInstances", id, parameter == null ? null : parameter.getXmlText(), wait);
    }

    public synchronized void deleteLinkInstances(String id, LinksParameter parameter, int wait)
            throws AdapterException {
        send("deleteLinkInstances", id, parameter == null ? null : parameter.getXmlText(), wait);
    }

    public synchronized void sendEvent(String id, EventsParameter parameter) throws AdapterException {
        open("sendEvent", id);
        String xml = parameter == null ? null : parameter.getXmlText();
        checkXml("sendEvent", xml);
        record.append("sendEvent", id, null, xml);
    }

    public synchronized void setAdapterListenerIF(AdapterListenerIF listener) {
        this.listener = listener;
    }

    public synchronized void shutdown() {
        trace.write(AdapterTrace.LOW, "Adapter shut down" + (listener != null ? " (listener dropped)" : ""));
        listener = null;
        discoveryOpenById.clear();
        authenticated = false;
    }

    private String register(String method, String name, int flags, String[] classes, String[] linkTypes)
            throws AdapterException {
        faults.raiseIfRequested(method);
        if (!authenticated) {
            throw new AdapterException(method + " refused: the adapter has not been authenticated");
        }
        if (isBlank(name)) {
            throw new AdapterException(method + " refused: no instrumentation name");
        }
        String flagNames = flagNames(flags);
        if (flagNames == null) {
            throw new AdapterException(method + " refused: unknown capability flags " + flags);
        }
        String classList = joined(method, "class", classes);
        String linkList = joined(method, "link type", linkTypes);
        String id = "ORX-" + (++registrations);
        discoveryOpenById.put(id, false);
        record.append(method, id, flagNames, name + "|classes=" + classList + "|links=" + linkList);
        trace.write(AdapterTrace.MEDIUM, method + " " + name + " as " + id);
        return id;
    }

    private void endDiscovery(String method, String id) throws AdapterException {
        open(method, id);
        if (!discoveryOpenById.get(id)) {
            throw new AdapterException(method + " refused: no discovery is open for the instrumentation " + id);
        }
        discoveryOpenById.put(id, false);
        record.append(method, id, null, null);
    }

    private void send(String method, String id, String xml, int wait) throws AdapterException {
        open(method, id);
        if (wait < 0 && wait != ASYNC_ERROR_RESPONSE && wait != WAIT_RESPONSE_FOREVER) {
            throw new AdapterException(method + " refused: unknown response wait " + wait);
        }
        checkXml(method, xml);
        record.append(method, id, Integer.toString(wait), xml);
    }

    /** Checks that the instrumentation is registered and no failure was requested. */
    private void open(String method, String id) throws AdapterException {
        faults.raiseIfRequested(method);
        if (id == null || !discoveryOpenById.containsKey(id)) {
            throw new AdapterException(method + " refused: the instrumentation " + id + " is not registered");
        }
        trace.write(AdapterTrace.HIGH, method + " " + id);
    }

    private void checkXml(String method, String xml) throws AdapterException {
        if (xml == null) {
            throw new AdapterException(method + " refused: no XML text");
        }
        try {
            XmlCheck.check(xml);
        } catch (XmlCheck.NotWellFormed e) {
            throw new AdapterException(method + " refused: the XML text is not well-formed: " + e.getMessage());
        }
    }

    /** "SUPPORTS_BULK+SUPPORTS_DELTA", or null when the flags hold an unknown bit. */
    private static String flagNames(int flags) {
        if (flags == SUPPORTS_NONE) {
            return "SUPPORTS_NONE";
        }
        if (flags == 0 || (flags & ~ALL_CAPABILITIES) != 0) {
            return null;
        }
        StringBuilder names = new StringBuilder();
        String[] words = {"SUPPORTS_BULK", "SUPPORTS_DELTA", "SUPPORTS_ATWILL", "SUPPORTS_EVENTS", "SUPPORTS_METHODS"};
        int[] bits = {SUPPORTS_BULK, SUPPORTS_DELTA, SUPPORTS_ATWILL, SUPPORTS_EVENTS, SUPPORTS_METHODS};
        for (int i = 0; i < bits.length; i++) {
            if ((flags & bits[i]) != 0) {
                names.append(names.length() == 0 ? "" : "+").append(words[i]);
            }
        }
        return names.toString();
    }

    private static String joined(String method, String what, String[] names) throws AdapterException {
        if (names == null) {
            throw new AdapterException(method + " refused: no " + what + " list");
        }
        StringBuilder list = new StringBuilder();
        for (String name : names) {
            if (isBlank(name)) {
                throw new AdapterException(method + " refused: an empty " + what + " name");
            }
            list.append(list.length() == 0 ? "" : ",").append(name);
        }
        return list.toString();
    }

    private static boolean isBlank(String text) {
        return text == null || text.trim().isEmpty();
    }
}
