// Writes a dictionary of N made-up entries as JSON Lines on standard output,
// the export format of the local service, for the scale benchmarks: half
// Latin pseudo-words built from syllables, half Chinese compounds of common
// characters, each with the three fields, some with aliases. The same N
// always gives the same file (a fixed-seed generator), and every term is
// distinct.
//
//   node bench/tools/gen_terms.mjs 1000000 > terms.jsonl
const count = Number(process.argv[2] ?? 1000);

let seed = 20261210;
function random() {
  // xorshift32: fast, and the same sequence on every machine
  seed ^= seed << 13;
  seed >>>= 0;
  seed ^= seed >>> 17;
  seed ^= seed << 5;
  seed >>>= 0;
  return seed / 4294967296;
}
const pick = (list) => list[Math.floor(random() * list.length)];

const syllables = ['ka', 'lo', 'mi', 'ra', 'ten', 'vo', 'sul', 'dri', 'pa', 'nex', 'qui', 'ber', 'to', 'lan',
  'gor', 'fi', 'zen', 'mo', 'ruk', 'sa', 'ti', 'ven', 'hal', 'or', 'el', 'dem', 'ju', 'ops', 'cy', 'tra'];
const han = ('数据模型检索增强生成向量语言智能体提示词微调训练推理嵌入网络学习深度注意力机制参数优化算法评估' +
  '知识图谱问答系统文本分类情感分析机器翻译语音识别图像生成视频理解多模态对齐安全隐私压缩量化蒸馏部署服务').split('');
const words = ['model', 'data', 'vector', 'search', 'index', 'token', 'layer', 'agent', 'prompt', 'graph',
  'memory', 'cache', 'stream', 'batch', 'query', 'score', 'signal', 'policy', 'reward', 'sample'];

function latinTerm(i) {
  let name = '';
  const n = 2 + Math.floor(random() * 3);
  for (let k = 0; k < n; k++) name += pick(syllables);
  // The index makes it unique; most names stay short words.
  return name + i.toString(36);
}
function hanTerm(i) {
  let name = '';
  const n = 2 + Math.floor(random() * 4);
  for (let k = 0; k < n; k++) name += pick(han);
  return name + i.toString(36);
}
function sentence(n, list, joiner) {
  const out = [];
  for (let k = 0; k < n; k++) out.push(pick(list));
  return out.join(joiner);
}

const out = [];
for (let i = 0; i < count; i++) {
  const latin = i % 2 === 0;
  const term = latin ? latinTerm(i) : hanTerm(i);
  const entry = {
    aliases: i % 5 === 0 ? [latin ? hanTerm(i) : latinTerm(i)] : [],
    createdAt: '2026-01-01T00:00:00Z',
    fields: {
      definition: latin ? sentence(12, words, ' ') : sentence(30, han, ''),
      example: latin ? sentence(8, words, ' ') : sentence(16, han, ''),
      plain: latin ? sentence(10, words, ' ') : sentence(20, han, ''),
    },
    lang: latin ? 'en' : 'zh',
    source: 'user',
    term,
    updatedAt: '2026-01-01T00:00:00Z',
  };
  out.push(JSON.stringify(entry));
  if (out.length === 10000) {
    process.stdout.write(out.join('\n') + '\n');
    out.length = 0;
  }
}
if (out.length) process.stdout.write(out.join('\n') + '\n');
