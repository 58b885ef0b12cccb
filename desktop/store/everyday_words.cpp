// The commonest words of Chinese and English, which a bilingual dictionary
// lists as headwords like any other and which no reader needs explained in
// a passage about something else.
#include "store/terms_in_text.hpp"

#include <set>
#include <string_view>

namespace ruvo::desktop::store {

namespace {

// Match keys (lower case, Simplified), two characters and more: names of one
// character never count anyway.
// clang-format off
constexpr std::string_view kEverydayWords[] = {
    // Chinese: pronouns, demonstratives, question words, conjunctions,
    // auxiliaries and the vaguest nouns and verbs.
    "我们", "你们", "他们", "她们", "它们", "咱们", "自己", "大家", "别人", "人们", "什么", "怎么", "怎样", "怎么样",
    "为什么", "哪里", "哪儿", "哪个", "哪些", "多少", "这个", "那个", "这些", "那些", "这里", "那里", "这儿", "那儿",
    "这样", "那样", "这么", "那么", "这种", "那种", "一种", "一个", "一些", "一下", "一样", "一起", "一直", "一定",
    "一般", "可以", "可能", "能够", "应该", "需要", "必须", "没有", "不是", "就是", "还是", "或者", "而且", "并且",
    "但是", "可是", "不过", "因为", "所以", "因此", "如果", "要是", "虽然", "然后", "然而", "于是", "而是", "只是",
    "只有", "只要", "已经", "正在", "现在", "时候", "以后", "以前", "之后", "之前", "之间", "之一", "其中", "其他",
    "其它", "还有", "以及", "通过", "对于", "关于", "根据", "按照", "由于", "为了", "作为", "成为", "进行", "得到",
    "知道", "觉得", "认为", "看到", "出来", "起来", "下来", "上来", "进来", "出去", "东西", "事情", "问题", "方面",
    "情况", "时间", "地方", "很多", "许多", "非常", "比较", "特别", "所有", "每个", "各种", "不同", "相同", "同时",
    "例如", "比如", "包括", "以上", "以下", "关系", "区别", "意思", "是否", "是不是", "有没有", "的话", "而已",
    "这是", "那是", "就是说", "也就是", "也是", "都是", "还是说", "或是", "以便", "从而", "然后再",
    // English: articles, pronouns, prepositions, conjunctions, auxiliaries.
    "an", "the", "and", "or", "but", "nor", "not", "no", "yes", "of", "to", "in", "on", "at", "by", "for", "from",
    "with", "without", "into", "onto", "over", "under", "about", "after", "before", "between", "through", "as", "is",
    "are", "was", "were", "be", "been", "being", "am", "do", "does", "did", "done", "have", "has", "had", "it", "its",
    "this", "that", "these", "those", "there", "here", "then", "than", "so", "if", "else", "when", "where", "what",
    "which", "who", "whom", "whose", "why", "how", "can", "could", "will", "would", "shall", "should", "may", "might",
    "must", "me", "my", "we", "us", "our", "you", "your", "he", "him", "his", "she", "her", "they", "them", "their",
    "all", "any", "some", "each", "every", "more", "most", "much", "many", "few", "other", "such", "only", "also",
    "just", "very", "too", "up", "down", "out", "off", "again", "one", "two", "vs",
};
// clang-format on

}  // namespace

bool is_everyday_word(std::string_view key) {
  static const std::set<std::string_view> words(std::begin(kEverydayWords), std::end(kEverydayWords));
  return words.count(key) > 0;
}

}  // namespace ruvo::desktop::store
