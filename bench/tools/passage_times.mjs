// Times the local service finding the stored terms of a passage: POST
// /v1/explain of a 2,000-character text in mode "passage" with the model not
// allowed, so the answer is made from the terms found and nothing else. The
// passage mixes names taken from the dictionary file (Latin and Chinese)
// with filler of the same alphabets, so the scan meets many near misses. The
// first request (which reads the names into memory) is timed on its own;
// then ROUNDS requests of each passage. Prints the first, the medians per
// passage, the median of all, and the terms each found, in ms.
//
//   node bench/tools/passage_times.mjs PORT TOKEN TERMS.jsonl [ROUNDS]
import http from 'node:http';
import fs from 'node:fs';

const [port, token, file, roundsText] = process.argv.slice(2);
const rounds = Number(roundsText ?? 30);
const agent = new http.Agent({ keepAlive: false });
const kChars = 2000;

function request(method, path, body) {
  return new Promise((resolve, reject) => {
    const started = process.hrtime.bigint();
    const req = http.request({ host: '127.0.0.1', port, method, path, agent,
      headers: { 'X-Ruvo-Token': token, 'Content-Type': 'application/json' } }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const ms = Number(process.hrtime.bigint() - started) / 1e6;
        if (res.statusCode !== 200) reject(new Error(`${method} ${path}: ${res.statusCode}`));
        else resolve({ ms, body: JSON.parse(Buffer.concat(chunks).toString('utf8')) });
      });
    });
    req.on('error', reject);
    req.end(body ?? '');
  });
}

const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };

// Names spread over the file: its first 4 MiB and a stretch further on.
const text = fs.readFileSync(file, { encoding: 'utf8' });
const lines = [...text.slice(0, 4 << 20).split('\n').slice(0, 5000),
  ...text.slice(text.length >> 1, (text.length >> 1) + (4 << 20)).split('\n').slice(1, 5000)];
const names = lines.filter((line) => line.startsWith('{')).map((line) => { try { return JSON.parse(line).term; } catch { return null; } })
  .filter(Boolean);
const latin = names.filter((n) => /^[a-z0-9]+$/.test(n));
const chinese = names.filter((n) => /[\u4e00-\u9fff]/.test(n));

let seed = 7;
function pick(list) {
  seed = (seed * 1103515245 + 12345) % 2147483648;
  return list[seed % list.length];
}
const fillerZh = '我们在讨论这个系统的时候需要先理解数据模型检索和推理之间的关系然后再看参数优化与部署服务的问题';
const fillerEn = ['the', 'model', 'reads', 'data', 'and', 'vector', 'search', 'over', 'an', 'index', 'with', 'token'];

// Exactly kChars code points: pieces of filler with a stored name every so
// often ("sparse": none but three at the very end, so the whole text is read;
// the others stop at the 20th term found).
function passage(kind) {
  const names = kind !== 'sparse';
  let out = '';
  let i = 0;
  while ([...out].length < kChars) {
    if (kind !== 'zh' && i % 2 === 0) {
      out += `${pick(fillerEn)} ${pick(fillerEn)} ${names && i % 6 === 0 ? pick(latin) : pick(fillerEn)}, `;
    }
    if (kind !== 'en') out += fillerZh.slice(i % 20, (i % 20) + 12) + (names && i % 5 === 0 ? pick(chinese) : '') + '，';
    i++;
  }
  if (names) return [...out].slice(0, kChars).join('');
  const end = ` ${pick(latin)} ${pick(chinese)}，${pick(latin)}`;
  return [...out].slice(0, kChars - [...end].length).join('') + end;
}
const passages = [['mixed', passage('mixed')], ['chinese', passage('zh')], ['latin', passage('en')],
  ['sparse', passage('sparse')]];

const body = (t) => JSON.stringify({ text: t, mode: 'passage', allowCloud: false, lang: 'zh' });
const first = await request('POST', '/v1/explain', body(passages[0][1]));
console.log(`first ${first.ms.toFixed(2)} ms (the names read into memory), ${first.body.terms?.length ?? 0} terms`);
const all = [];
for (const [name, t] of passages) {
  const times = [];
  let last;
  for (let r = 0; r < rounds; r++) { last = await request('POST', '/v1/explain', body(t)); times.push(last.ms); }
  all.push(...times);
  const found = last.body.terms ?? [];
  console.log(`passage ${name} (${[...t].length} chars) median ${median(times).toFixed(2)} ms, ` +
    `max ${Math.max(...times).toFixed(2)} ms, ${found.length} terms: ${found.slice(0, 4).map((x) => x.term).join(' ')} …`);
}
console.log(`passage_median_ms ${median(all).toFixed(2)}`);
console.log(`first_ms ${first.ms.toFixed(2)}`);
