#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "results/ResultsPage.h"
#include "text/ReplacePasses.h"
#include "text/Text.h"

namespace {

using namespace quillmere::text;

// Text made of pieces of the find texts and of markup, so that matches, near
// matches and matches split across pieces are all common.
std::u16string RandomText(std::mt19937& rng, size_t pieces) {
  static const std::vector<std::u16string> kPieces = {
      u"download.asp?", u"search.asp?mode=torrentdetails&", u"directory.asp?mode=sub&", u"images/downloadlock.gif",
      u"amp;", u"&", u"&amp;", u"a", u"amp", u";", u"?", u"download", u".asp", u"search.asp?", u"mode=sub&",
      u"<td>", u"</a>", u"\"", u"k", u"images/", u"lock.gif", u"http://h/", u"\u00E9", std::u16string(1, u'\0')};
  std::uniform_int_distribution<size_t> pick(0, kPieces.size() - 1);
  std::u16string text;
  for (size_t i = 0; i < pieces; ++i) text += kPieces[pick(rng)];
  return text;
}

// The results builder's own link rewriting, for several base addresses.
TEST(ReplaceInTurn, OneScanGivesWhatThePassesInTurnGive) {
  std::mt19937 rng(20261206);
  for (std::u16string base : {u"http://127.0.0.1:8642/", u"http://idx.test/", u""}) {
    for (auto variant : {quillmere::results::Variant::MainWindow, quillmere::results::Variant::ResultsWindow}) {
      const quillmere::results::LinkPasses links(base, variant);
      ASSERT_TRUE(CanReplaceInOneScan(links.Passes())) << "the builder's passes must take the fast path";
      for (int round = 0; round < 3000; ++round) {
        const std::u16string text = RandomText(rng, round % 40);
        std::u16string inTurn = text;
        for (const Replacement& pass : links.Passes()) inTurn = ReplaceAll(inTurn, pass.find, pass.replacement);
        ASSERT_EQ(ReplaceInTurn(text, links.Passes()), inTurn) << round;
      }
    }
  }
}

TEST(CanReplaceInOneScan, RefusesPassesWhoseFindTextsCanOverlap) {
  const std::vector<std::vector<Replacement>> refused = {
      {{u"aa", u"x"}},                      // overlaps itself
      {{u"ab", u"x"}, {u"bc", u"y"}},       // one runs into the other
      {{u"abc", u"x"}, {u"b", u"y"}},       // one holds the other
      {{u"ab", u""}, {u"cd", u"y"}},        // a removal before a later pass
      {{u"ab", u"xc"}, {u"cd", u"y"}},      // an insertion that runs into a later find text
  };
  for (const auto& passes : refused) EXPECT_FALSE(CanReplaceInOneScan(passes));
  EXPECT_TRUE(CanReplaceInOneScan(std::vector<Replacement>{{u"ab", u"x"}, {u"cd", u"y"}, {u"ef", u""}}));
}

}  // namespace
