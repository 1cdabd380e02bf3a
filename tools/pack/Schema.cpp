// `vexlo-pack schema`: the key table as a JSON Schema, for TOML editors and validators.
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include <toml++/toml.h>

#include "KeyTable.h"
#include "PackConfig.h"

namespace vexlo::pack {
namespace {

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') out += '\\', out += ch;
        else if (ch == '\n') out += "\\n";
        else if (ch == '\t') out += "\\t";
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += ch;
    }
    return out + "\"";
}

std::string jsonOf(const toml::node& n) {
    if (const auto* s = n.as_string()) return jsonString(s->get());
    if (const auto* b = n.as_boolean()) return b->get() ? "true" : "false";
    if (const auto* i = n.as_integer()) return std::to_string(i->get());
    std::string out = "[";
    if (const auto* a = n.as_array())
        for (size_t k = 0; k < a->size(); ++k) out += (k ? ", " : "") + jsonOf(*a->get(k));
    return out + "]";
}

const char* const kDurationPattern = "^[0-9]{1,10}(ms|s|m|h|d)$";
const char* const kStringArray = R"({ "type": "array", "items": { "type": "string" } })";

std::string keySchema(const Key& k) {
    std::string body;
    switch (k.kind) {
        case Kind::Flag: body = R"("type": "boolean")"; break;
        case Kind::Choice: {
            body = R"("type": "string", "enum": [)";
            for (size_t i = 0; i < k.choices.size(); ++i) body += (i ? ", " : "") + jsonString(k.choices[i].word);
            body += "]";
            break;
        }
        case Kind::Joined:
        case Kind::Args: body = R"("type": "array", "items": { "type": "string" })"; break;
        case Kind::Search: {
            std::string alternatives;
            for (const auto& sk : kSearchKinds)
                alternatives += std::string(alternatives.empty() ? "" : "|") + sk.word + (sk.takesText ? ":[^;]+" : "");
            body = R"("type": "array", "items": { "type": "string", "pattern": )" +
                   jsonString("^(" + alternatives + ")$") + " }";
            break;
        }
        case Kind::PathEntries: {
            std::string props, oneOf;
            for (const auto& ek : kEntryKinds) {
                props += jsonString(ek.word) + R"(: { "type": "string" }, )";
                oneOf += std::string(oneOf.empty() ? "" : ", ") + R"({ "required": [)" + jsonString(ek.word) + "] }";
            }
            body =
                R"("type": "array", "items": { "type": "object", "properties": { )" + props +
                R"("mandatory": { "type": "boolean" } }, "additionalProperties": false, "maxProperties": 2, "oneOf": [)" +
                oneOf + "] }";
            break;
        }
        case Kind::VersionRules:
            body =
                R"("type": "array", "items": { "type": "object", "properties": { "versions": { "type": "string" }, )"
                R"("pattern": { "type": "string" }, "options": )" +
                std::string(kStringArray) +
                R"( }, "required": ["options"], "additionalProperties": false, "oneOf": [{ "required": ["versions"] }, )"
                R"({ "required": ["pattern"] }] })";
            break;
        case Kind::Duration:
            body = std::string(R"("type": "string", "pattern": )") + jsonString(kDurationPattern);
            break;
        case Kind::Size: body = R"("type": "string", "pattern": "^[0-9]{1,13}([KkMmGg][Bb])?$")"; break;
        case Kind::Count: body = R"("type": "integer", "minimum": 0)"; break;
        case Kind::Recovery:
            body = std::string(
                       R"("type": "object", "properties": { "on_failure": { "type": "array", "maxItems": 3, )") +
                   R"("items": { "type": "string", "pattern": )" +
                   jsonString("^(none|restart [0-9]{1,10}(ms|s|m|h|d))$") +
                   R"( } }, "reset_after": { "type": "string", "pattern": )" + jsonString(kDurationPattern) +
                   R"( } }, "additionalProperties": false)";
            break;
        case Kind::Environment: body = R"("type": "object", "additionalProperties": { "type": "string" })"; break;
        default: body = R"("type": "string")";
    }
    if (*k.help) body += ", \"description\": " + jsonString(k.help);
    if (k.defaultToml) {
        toml::table d = toml::parse(std::string("v = ") + k.defaultToml);
        body += ", \"default\": " + jsonOf(*d.get("v"));
    }
    return "{ " + body + " }";
}

}  // namespace

std::string configSchema() {
    // Sections in the order of the table; [[files]], [languages.PREFIX] and [raw] have shapes of their own.
    std::vector<std::string> order;
    std::map<std::string, std::vector<const Key*>> sections;
    for (const auto& k : keys()) {
        if (!sections.count(k.section)) order.push_back(k.section);
        sections[k.section].push_back(&k);
    }
    std::string messageNames;
    for (const Key* k : sections[kMessagesSection])
        messageNames += "        " + jsonString(k->name) +
                        R"(: { "type": "string" },)"
                        "\n";
    const std::string messageTable = "{\n      \"type\": \"object\",\n      \"properties\": {\n" +
                                     messageNames.substr(0, messageNames.size() - 2) + "\n      },\n" +
                                     R"(      "patternProperties": { "^[0-9]+$": { "type": "string" } },)"
                                     "\n" +
                                     "      \"additionalProperties\": false\n    }";
    std::string out = "{\n";
    out += R"(  "$schema": "http://json-schema.org/draft-07/schema#",)"
           "\n";
    out += R"(  "title": "vexlo.toml",)"
           "\n";
    out += R"(  "description": "The configuration vexlo-pack turns into a launcher (vexlo-pack schema prints this).",)"
           "\n";
    out += R"(  "type": "object",)"
           "\n";
    out += "  \"properties\": {\n";
    for (const std::string& section : order) {
        const std::vector<const Key*>& ks = sections[section];
        out += "    " + jsonString(section) + ": ";
        if (section == kFilesSection) {
            out += R"({ "type": "array", "items": { "type": "object", "properties": { "source": { "type": "string" }, )"
                   R"("name": { "type": "string" } }, "required": ["source"], "additionalProperties": false }, )"
                   R"("description": )" +
                   jsonString(ks.front()->help) + " },\n";
            continue;
        }
        if (section == kMessagesSection) {
            out += messageTable + ",\n";
            continue;
        }
        out += "{\n      \"type\": \"object\",\n      \"properties\": {\n";
        for (size_t i = 0; i < ks.size(); ++i)
            out += "        " + jsonString(ks[i]->name) + ": " + keySchema(*ks[i]) + (i + 1 < ks.size() ? ",\n" : "\n");
        out += "      },\n      \"additionalProperties\": false\n    },\n";
    }
    out += "    " + jsonString(kLanguagesSection) +
           R"(: { "type": "object", "description": "texts for locales that begin with )"
           R"(the table's name, such as de or de_DE", "additionalProperties": )" +
           messageTable + " },\n";
    out += "    " + jsonString(kRawSection) +
           R"(: { "type": "object", "description": "any configuration id by number", )"
           R"("patternProperties": { "^-?[0-9]+$": { "type": "string" } }, "additionalProperties": false })"
           "\n";
    out += "  },\n  \"additionalProperties\": false\n}\n";
    return out;
}

}  // namespace vexlo::pack
