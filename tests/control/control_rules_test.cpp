#include "control/control_rules.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "control/metrics_text.h"
#include "control/process_memory.h"

namespace ombrix {
namespace {

TEST(ControlRules, BusNameKeepsLettersDigitsAndUnderscores) {
  EXPECT_EQ(BusNameForApp("shop"), "org.ombrix.Kiosk.shop");
  EXPECT_EQ(BusNameForApp("shop-2.v"), "org.ombrix.Kiosk.shop_2_v");
  EXPECT_EQ(BusNameForApp("caf\xC3\xA9 bar"), "org.ombrix.Kiosk.caf__bar");  // one "_" a character
  EXPECT_EQ(BusNameForApp("7eleven"), "org.ombrix.Kiosk._7eleven");
  EXPECT_EQ(BusNameForApp(""), "org.ombrix.Kiosk._");
  EXPECT_EQ(BusNameForApp(std::string(400, 'a')).size(), 255u);
}

TEST(ControlRules, ListenAddressAndTokenRules) {
  ListenAddress address;
  std::string error;
  ASSERT_TRUE(ParseListen("127.0.0.1:9464", &address, &error));
  EXPECT_TRUE(address.loopback);
  EXPECT_EQ(address.port, 9464);
  ASSERT_TRUE(ParseListen("[::1]:9464", &address, &error));
  EXPECT_TRUE(address.loopback);
  EXPECT_EQ(address.host, "::1");
  ASSERT_TRUE(ParseListen("localhost:80", &address, &error));
  EXPECT_EQ(address.host, "127.0.0.1");
  ASSERT_TRUE(ParseListen("0.0.0.0:9464", &address, &error));
  EXPECT_FALSE(address.loopback);
  for (const char* bad : {"9464", "127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "host:9464",
                          "::1:9464", "[::1]9464", ":9464"})
    EXPECT_FALSE(ParseListen(bad, &address, &error)) << bad;

  const std::string token(16, 't');
  EXPECT_EQ(ListenRefusal("127.0.0.1:9464", "", &address), "");
  EXPECT_EQ(ListenRefusal("0.0.0.0:9464", token, &address), "");
  EXPECT_NE(ListenRefusal("0.0.0.0:9464", "", &address).find("needs \"metrics.token\""),
            std::string::npos);
  EXPECT_NE(ListenRefusal("127.0.0.1:9464", "short", &address).find("has 5 characters"),
            std::string::npos);
  EXPECT_NE(ListenRefusal("nine", "", &address).find("runs without a metrics listener"),
            std::string::npos);

  EXPECT_TRUE(BearerAccepted(nullptr, ""));
  EXPECT_TRUE(BearerAccepted(("Bearer " + token).c_str(), token));
  EXPECT_TRUE(BearerAccepted(("bearer " + token).c_str(), token));
  EXPECT_FALSE(BearerAccepted(nullptr, token));
  EXPECT_FALSE(BearerAccepted(token.c_str(), token));
  EXPECT_FALSE(BearerAccepted(("Bearer " + token + "x").c_str(), token));
  EXPECT_FALSE(BearerAccepted("Bearer ", token));
}

TEST(MetricsText, EveryFamilyHasHelpAndTypeAndLabelsAreEscaped) {
  MetricsFigures figures;
  figures.version = "1.0 \"rc\"\\x";
  figures.page_state = "hung";
  figures.page_responsive = false;
  figures.loads_ok = 3;
  figures.restarts_crash = 2;
  figures.resident_web_bytes = 1 << 20;
  figures.dispenser_tickets = 5;
  figures.dispenser_last_code = -103;
  figures.print_failed = 1;
  const std::string text = MetricsText(figures);
  EXPECT_NE(text.find("ombrix_build_info{version=\"1.0 \\\"rc\\\"\\\\x\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_page_state{state=\"hung\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_page_responsive 0\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_page_loads_total{result=\"ok\"} 3\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_web_process_restarts_total{reason=\"crash\"} 2\n"),
            std::string::npos);
  EXPECT_NE(text.find("ombrix_resident_bytes{process=\"web\"} 1048576\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_dispenser_tickets_total 5\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_dispenser_last_code -103\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_print_jobs_total{state=\"failed\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("ombrix_print_jobs_total{state=\"stopped\"} 0\n"), std::string::npos);
  // Each sample's family was announced just before, with a help and a type.
  std::istringstream lines(text);
  std::string family;
  int families = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("# HELP ", 0) == 0) {
      family = line.substr(7, line.find(' ', 7) - 7);
      ASSERT_TRUE(std::getline(lines, line));
      EXPECT_EQ(line.rfind("# TYPE " + family + " ", 0), 0u) << line;
      ++families;
    } else {
      EXPECT_EQ(line.rfind(family, 0), 0u) << line;
    }
  }
  EXPECT_EQ(families, 11);

  EXPECT_EQ(Health("shown", true).status, 200);
  EXPECT_EQ(Health("shown", true).body, "ok");
  EXPECT_EQ(Health("restarting", true).status, 503);
  EXPECT_EQ(Health("restarting", true).body, "restarting");
  EXPECT_EQ(Health("shown", false).body, "shown, not responding");
}

TEST(ControlRules, ResidentBytesAndJson) {
  EXPECT_EQ(ResidentBytesFromStatm("12000 3000 200 1 0 500 0\n", 4096), 3000 * 4096);
  EXPECT_EQ(ResidentBytesFromStatm("", 4096), -1);
  EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
}

}  // namespace
}  // namespace ombrix
