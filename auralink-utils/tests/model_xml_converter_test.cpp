#include <auralink/xml_converter.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "model_xml_reader.h"

namespace {

using model_test::XmlElement;
using model_test::XmlReader;

// Texts that break naive XML writers.
const std::vector<std::string> kHostileTexts = {
    "",
    "plain",
    "a & b < c > d \" e ' f",
    "&amp; &#0; &#x1; &unknown; &",
    "]]> <![CDATA[ x ]]> <!-- c --> <?pi?>",
    "</instance><instance class=\"x\">",
    "tab\there\nnew line\r\ncarriage",
    std::string("nul\0inside", 10),
    "\x01\x02\x07\x08\x0B\x0C\x1B\x1F\x7F",
    "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",            // well-formed UTF-8
    "\xC2\x85 next line \xC2\x9F",                           // C1 controls
    "\xFF\xFE latin1 \xE9t\xE9 \x80\x81",                    // stray bytes
    "\xC0\x80 \xE0\x80\x80 \xED\xA0\x80 \xF4\x90\x80\x80",  // overlong, surrogate, beyond U+10FFFF
    "cut \xE2\x82",                                          // sequence cut short
    "\xEF\xBF\xBE \xEF\xBF\xBF",                             // U+FFFE, U+FFFF
};

XmlElement ReadOrFail(const std::string& xml) {
  XmlReader reader;
  auto root = reader.Read(xml);
  EXPECT_TRUE(root.has_value()) << reader.Error() << "\n" << xml;
  EXPECT_EQ(xml.find_first_of("\r\n\t"), std::string::npos) << "one line expected: " << xml;
  return root.value_or(XmlElement{});
}

std::string Converted(const CInstance& instance) {
  std::string xml;
  EXPECT_EQ(CXMLConverter().Convert(instance, xml), 1);
  return xml;
}

// Every member the kind carries holds the same text.
CInstance Filled(SHORT type, const std::string& text) {
  CInstance i;
  i.m_type = type;
  i.m_className = i.m_id = i.m_name = text;
  i.m_attributes[text] = text;
  i.m_attributes["other"] = text;
  i.m_keys[text] = text;
  i.m_sourceClass = i.m_sourceId = i.m_targetClass = i.m_targetId = i.m_linkType = text;
  i.m_eventObjectClass = i.m_eventObjectId = i.m_eventTime = i.m_eventType = i.m_eventAction = text;
  i.m_eventCategory = i.m_eventDescription = i.m_eventStatus = i.m_eventSeverity = i.m_qualifiedSeverity = text;
  return i;
}

// The reader that judges the converter must itself refuse what a real parser refuses.
TEST(XmlConverter, TestReaderRefusesBrokenDocuments) {
  for (const char* broken :
       {"<a>", "<a></b>", "<a x=\"1\" x=\"2\"/>", "<a x=\"<\"/>", "<a>&bogus;</a>", "<a>&#1;</a>", "<a>\x01</a>",
        "<a>\xC3</a>", "<a>]]></a>", "<a/><b/>", "<a x=1/>", "<a>&amp</a>", "<a>\xEF\xBF\xBE</a>"}) {
    EXPECT_FALSE(XmlReader().Read(broken).has_value()) << broken;
  }
  EXPECT_TRUE(XmlReader().Read("<?xml version=\"1.0\"?><a x='&#x263A;'>t<b/>&lt;</a>").has_value());
}

TEST(XmlConverter, HostileTextsStayWellFormedInEveryKind) {
  for (SHORT type : {CInstance::TYPE_INSTANCE, CInstance::TYPE_LINK, CInstance::TYPE_EVENT})
    for (const std::string& text : kHostileTexts) ReadOrFail(Converted(Filled(type, text)));
}

TEST(XmlConverter, RandomBytesStayWellFormed) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 40);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int n = length(random); n > 0; --n) text += static_cast<char>(byte(random));
    ReadOrFail(Converted(Filled(static_cast<SHORT>(round % 3), text)));
  }
}

TEST(XmlConverter, PrintableTextsReadBackUnchanged) {
  const std::string text = "a & b < c > \"d\" 'e' ]]> caf\xC3\xA9\ttab\nline\rcr \xF0\x9F\x98\x80";
  const XmlElement root = ReadOrFail(Converted(Filled(CInstance::TYPE_INSTANCE, text)));
  EXPECT_EQ(*root.Attribute("class"), text);
  EXPECT_EQ(*root.Attribute("name"), text);
  ASSERT_EQ(root.children.size(), 2u);
  const XmlElement& key = root.children[0].children.at(0);
  EXPECT_EQ(*key.Attribute("name"), text);
  EXPECT_EQ(key.text, text);
}

TEST(XmlConverter, UnrepresentableCharactersBecomeVisibleSubstitutes) {
  const XmlElement root = ReadOrFail(Converted(Filled(CInstance::TYPE_EVENT, std::string("a\0b\x01\xFF", 5))));
  // NUL and U+0001 as control pictures, the stray byte as U+FFFD.
  EXPECT_EQ(*root.Attribute("description"), "a\xE2\x90\x80" "b\xE2\x90\x81\xEF\xBF\xBD");
}

TEST(XmlConverter, InstanceLayout) {
  CInstance i;
  i.m_className = "ComputerSystem";
  i.m_id = "42";
  i.m_name = "host1";
  i.m_keys = {{"uuid", "42"}};
  i.m_attributes = {{"label", "Host 1"}, {"address", "10.0.0.1"}};
  EXPECT_EQ(Converted(i),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<instance class=\"ComputerSystem\" id=\"42\" name=\"host1\">"
            "<keys><key name=\"uuid\">42</key></keys>"
            "<attributes><attribute name=\"address\">10.0.0.1</attribute>"
            "<attribute name=\"label\">Host 1</attribute></attributes></instance>");
}

TEST(XmlConverter, LinkAndEventLayouts) {
  CInstance link;
  link.m_type = CInstance::TYPE_LINK;
  link.m_sourceClass = "ComputerSystem", link.m_sourceId = "1";
  link.m_targetClass = "Network", link.m_targetId = "2", link.m_linkType = "MemberOf";
  EXPECT_EQ(Converted(link),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><link type=\"MemberOf\">"
            "<source class=\"ComputerSystem\" id=\"1\"/><target class=\"Network\" id=\"2\"/></link>");

  CInstance event;
  event.m_type = CInstance::TYPE_EVENT;
  event.m_eventObjectClass = "SoftwareElement";
  event.m_eventSeverity = "Major";
  const XmlElement root = ReadOrFail(Converted(event));
  std::vector<std::string> names;
  for (const auto& [name, value] : root.attributes) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"objectClass", "objectId", "time", "type", "action", "category",
                                             "description", "status", "severity", "qualifiedSeverity"}));
  EXPECT_EQ(*root.Attribute("objectClass"), "SoftwareElement");
  EXPECT_EQ(*root.Attribute("severity"), "Major");
  EXPECT_TRUE(root.children.empty());
}

TEST(XmlConverter, UnknownKindIsRefusedAndEmptiesTheText) {
  CInstance i;
  i.m_type = 3;
  std::string xml = "previous";
  EXPECT_EQ(CXMLConverter().Convert(i, xml), 0);
  EXPECT_TRUE(xml.empty());
}

}  // namespace
