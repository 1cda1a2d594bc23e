package com.kestrova.hubrelay.orvexadapter.client;

import java.util.ArrayDeque;
import java.util.ArrayList;
import java.util.Deque;
import java.util.List;

/**
 * Tells whether a text is a well-formed XML document, building nothing: an optional XML
 * declaration, comments and processing instructions, then one root element whose tags nest
 * and match, attributes quoted and named once per element, character data whose references
 * are the five predefined entities or allowed character numbers, and CDATA sections.
 * Document types are refused: operations carry plain documents. One pass over the text;
 * a general parser costs many times more on the small texts the adapter receives.
 */
final class XmlCheck {
    /** Why a text is not well-formed, with the character position where that shows. */
    static final class NotWellFormed extends Exception {
        private static final long serialVersionUID = 1L;

        NotWellFormed(String problem, int position) {
            super(problem + " at character " + position);
        }
    }

    private final String text;
    private final int length;
    private int at;

    private XmlCheck(String text) {
        this.text = text;
        this.length = text.length();
    }

    static void check(String text) throws NotWellFormed {
        new XmlCheck(text).document();
    }

    private void document() throws NotWellFormed {
        if (text.startsWith("<?xml") && length > 5 && isSpace(text.charAt(5))) {
            at = skipPast("?>", 5, "an unterminated XML declaration");
        }
        boolean rootSeen = false;
        while (true) {
            skipSpaces();
            if (at >= length) {
                break;
            }
            if (startsWith("<!--")) {
                comment();
            } else if (startsWith("<?")) {
                processingInstruction();
            } else if (startsWith("<!")) {
                fail("a document type or markup declaration");
            } else if (text.charAt(at) == '<' && !rootSeen) {
                element();
                rootSeen = true;
            } else {
                fail(rootSeen ? "content after the root element" : "text before the root element");
            }
        }
        if (!rootSeen) {
            fail("no root element");
        }
    }

    /** From the '<' of the root element's start tag to the end of its closing tag. */
    private void element() throws NotWellFormed {
        Deque<String> open = new ArrayDeque<>();
        List<String> attributes = new ArrayList<>();
        while (true) {
            if (startsWith("</")) {
                at += 2;
                String name = name();
                skipSpaces();
                expect('>', "an unterminated closing tag");
                if (open.isEmpty() || !open.pop().equals(name)) {
                    fail("the closing tag " + name + " does not match the open element");
                }
            } else if (startsWith("<!--")) {
                comment();
            } else if (startsWith("<![CDATA[")) {
                int end = skipPast("]]>", at + 9, "an unterminated CDATA section");
                checkCharacters(at + 9, end - 3);
                at = end;
            } else if (startsWith("<?")) {
                processingInstruction();
            } else if (startsWith("<!")) {
                fail("a markup declaration inside an element");
            } else {
                at++;
                String name = name();
                if (!emptyElementAfterAttributes(attributes)) {
                    open.push(name);
                }
            }
            if (open.isEmpty()) {
                return;
            }
            characterData();
            if (at >= length) {
                fail("the element " + open.peek() + " is not closed");
            }
        }
    }

    /** Reads the attributes of a start tag and its end; true for an empty-element tag. */
    private boolean emptyElementAfterAttributes(List<String> names) throws NotWellFormed {
        names.clear();
        while (true) {
            boolean spaced = skipSpaces();
            if (at >= length) {
                fail("an unterminated tag");
            }
            char c = text.charAt(at);
            if (c == '>') {
                at++;
                return false;
            }
            if (c == '/') {
                at++;
                expect('>', "'/' not followed by '>'");
                return true;
            }
            if (!spaced) {
                fail("an attribute not preceded by white space");
            }
            String name = name();
            if (names.contains(name)) {
                fail("the attribute " + name + " given twice");
            }
            names.add(name);
            skipSpaces();
            expect('=', "an attribute without a value");
            skipSpaces();
            char quote = at < length ? text.charAt(at) : 0;
            if (quote != '"' && quote != '\'') {
                fail("an unquoted attribute value");
            }
            at++;
            while (true) {
                if (at >= length) {
                    fail("an unterminated attribute value");
                }
                char v = text.charAt(at);
                if (v == quote) {
                    at++;
                    break;
                }
                if (v == '<') {
                    fail("'<' in an attribute value");
                }
                if (v == '&') {
                    reference();
                } else {
                    checkCharacter(v);
                    at++;
                }
            }
        }
    }

    private void characterData() throws NotWellFormed {
        while (at < length) {
            char c = text.charAt(at);
            if (c == '<') {
                return;
            }
            if (c == '&') {
                reference();
                continue;
            }
            if (c == ']' && startsWith("]]>")) {
                fail("']]>' in character data");
            }
            checkCharacter(c);
            at++;
        }
    }

    /** An entity or character reference, from its '&' to its ';'. */
    private void reference() throws NotWellFormed {
        int end = text.indexOf(';', at);
        if (end < 0) {
            fail("an unterminated reference");
        }
        String body = text.substring(at + 1, end);
        if (body.startsWith("#")) {
            boolean hex = body.startsWith("#x");
            String digits = body.substring(hex ? 2 : 1);
            int code;
            try {
                code = digits.isEmpty() || digits.length() > 8 || digits.charAt(0) == '+'
                        ? -1 : Integer.parseInt(digits, hex ? 16 : 10);
            } catch (NumberFormatException e) {
                code = -1;
            }
            if (!allowedCharacter(code)) {
                fail("the character reference &" + body + "; names no allowed character");
            }
        } else if (!body.equals("amp") && !body.equals("lt") && !body.equals("gt") && !body.equals("quot")
                && !body.equals("apos")) {
            fail("the unknown entity &" + body + ";");
        }
        at = end + 1;
    }

    private void comment() throws NotWellFormed {
        int end = text.indexOf("--", at + 4);
        if (end < 0 || end + 2 >= length || text.charAt(end + 2) != '>') {
            fail("an unterminated comment or '--' inside it");
        }
        checkCharacters(at + 4, end);
        at = end + 3;
    }

    private void processingInstruction() throws NotWellFormed {
        at += 2;
        String target = name();
        if (target.equalsIgnoreCase("xml")) {
            fail("an XML declaration that does not open the document");
        }
        int end = skipPast("?>", at, "an unterminated processing instruction");
        if (end - 2 > at && !isSpace(text.charAt(at))) {
            fail("a processing instruction target not followed by white space");
        }
        checkCharacters(at, end - 2);
        at = end;
    }

    private String name() throws NotWellFormed {
        int start = at;
        if (at >= length || !nameStart(text.charAt(at))) {
            fail("a missing or invalid name");
        }
        at++;
        while (at < length && nameCharacter(text.charAt(at))) {
            at++;
        }
        return text.substring(start, at);
    }

    /** The position just after the next `marker` found from `from`. */
    private int skipPast(String marker, int from, String problem) throws NotWellFormed {
        int found = text.indexOf(marker, from);
        if (found < 0) {
            fail(problem);
        }
        return found + marker.length();
    }

    private boolean skipSpaces() {
        int start = at;
        while (at < length && isSpace(text.charAt(at))) {
            at++;
        }
        return at > start;
    }

    private void expect(char wanted, String problem) throws NotWellFormed {
        if (at >= length || text.charAt(at) != wanted) {
            fail(problem);
        }
        at++;
    }

    private boolean startsWith(String prefix) {
        return text.startsWith(prefix, at);
    }

    private void checkCharacters(int from, int to) throws NotWellFormed {
        for (int i = from; i < to; i++) {
            char c = text.charAt(i);
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' || c == 0xFFFE || c == 0xFFFF) {
                at = i;
                fail("a character not allowed in XML");
            }
        }
    }

    private void checkCharacter(char c) throws NotWellFormed {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' || c == 0xFFFE || c == 0xFFFF) {
            fail("a character not allowed in XML");
        }
    }

    private static boolean allowedCharacter(int code) {
        return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
                || (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
    }

    private static boolean isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r';
    }

    private static boolean nameStart(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'
                || (c >= 0xC0 && c != 0xD7 && c != 0xF7 && c < 0xFFFE);
    }

    private static boolean nameCharacter(char c) {
        return nameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
    }

    private void fail(String problem) throws NotWellFormed {
        throw new NotWellFormed(problem, at);
    }
}
