// The 词典 page (the dictionaries added, in the person's order, and those
// found on this system) and the other sources' articles on an entry's page.
// Loaded before app.js, whose helpers (api, el, slot, say, show, failure)
// it calls once the page runs. Nothing a dictionary holds is ever put into
// the page as markup: every text goes in as text.
'use strict';

const FORMATS = { dictd: 'dictd', stardict: 'StarDict', mdict: 'MDict', cedict: 'CC-CEDICT' };

async function dictionariesView() {
  const root = show('view-dictionaries', '词典');
  const list = slot(root, 'list');
  const found = slot(root, 'found');
  const error = slot(root, 'error');
  const result = slot(root, 'result');

  async function act(doing, request) {
    error.textContent = '';
    result.textContent = doing;
    try {
      const reply = await request();
      result.textContent = '';
      await load();
      return reply;
    } catch (problem) {
      result.textContent = '';
      error.textContent = problem.message;
      return null;
    }
  }

  async function add(path) {
    const reply = await act(`正在添加 ${path}…（大词典要一会儿，查词照常）`, () =>
      api('POST', '/v1/dictionaries', { path }));
    if (!reply) return;
    const added = (reply.added || []).map((d) => `${d.name}（${d.entries} 条）`).join('、');
    result.textContent = added ? `已添加：${added}` : '没有添加任何词典';
    const failed = reply.failed || [];
    if (failed.length) error.textContent = failed.map((f) => `${f.path}：${f.message}`).join('\n');
  }

  function row(d, index, count) {
    const enabled = el('input', { type: 'checkbox', id: `d-on-${d.id}`, checked: d.enabled });
    enabled.addEventListener('change', () =>
      act('', () => api('PATCH', `/v1/dictionaries/${d.id}`, { enabled: enabled.checked })));
    const up = el('button', { type: 'button', text: '上移', disabled: index === 0, 'aria-label': `把「${d.name}」上移` });
    up.addEventListener('click', () => act('', () => api('PATCH', `/v1/dictionaries/${d.id}`, { position: index - 1 })));
    const down = el('button', { type: 'button', text: '下移', disabled: index === count - 1,
      'aria-label': `把「${d.name}」下移` });
    down.addEventListener('click', () => act('', () => api('PATCH', `/v1/dictionaries/${d.id}`, { position: index + 1 })));
    const name = el('input', { type: 'text', value: d.name, 'aria-label': `「${d.name}」的名称`, maxlength: 256 });
    const rename = el('button', { type: 'button', text: '改名' });
    rename.addEventListener('click', () =>
      act('', () => api('PATCH', `/v1/dictionaries/${d.id}`, { name: name.value })));
    const remove = el('button', { type: 'button', class: 'danger', text: '删除', 'aria-label': `删除「${d.name}」` });
    remove.addEventListener('click', () => {
      if (!window.confirm(`「${d.name}」的 ${d.entries} 个词条会从词库里删掉（原来的文件不动）。删除吗？`)) return;
      act(`正在删除「${d.name}」…`, () => api('DELETE', `/v1/dictionaries/${d.id}`));
    });
    const info = d.info ? el('details', {}, el('summary', { text: '说明与许可' }), el('p', { class: 'info', text: d.info }))
      : null;
    return el('li', { class: 'dictionary', 'data-name': d.name },
      el('div', { class: 'title' },
        el('span', { class: 'position', text: String(index + 1) }),
        el('strong', { text: d.name }),
        el('span', { class: 'lang', text: `${FORMATS[d.format] || d.format} · ${d.entries} 条` })),
      el('div', { class: 'actions' },
        el('span', { class: 'check' }, enabled, el('label', { for: `d-on-${d.id}`, text: '启用' })),
        up, down, name, rename, remove),
      el('p', { class: 'hint', text: `来自 ${d.path}，添加于 ${when(d.addedAt)}` }),
      info);
  }

  async function load() {
    let reply;
    try {
      reply = await api('GET', '/v1/dictionaries');
    } catch (problem) {
      if (root.isConnected) error.textContent = problem.message;
      return;
    }
    const dictionaries = reply.dictionaries || [];
    list.replaceChildren(...(dictionaries.length
      ? dictionaries.map((d, i) => row(d, i, dictionaries.length))
      : [el('li', { class: 'hint', text: '还没有添加词典。' })]));
    const others = reply.found || [];
    found.replaceChildren(...(others.length
      ? others.map((f) => {
        const button = el('button', { type: 'button', text: '添加', 'aria-label': `添加「${f.name}」` });
        button.addEventListener('click', () => add(f.path));
        return el('li', {}, el('strong', { text: f.name }), ' ',
          el('span', { class: 'lang', text: `${FORMATS[f.format] || f.format} · ${f.path}` }), ' ', button);
      })
      : [el('li', { class: 'hint', text: '本机的词典都已添加（或没有找到）。' })]));
  }

  root.querySelector('[data-form="add-dictionary"]').addEventListener('submit', async (event) => {
    event.preventDefault();
    const path = event.target.elements.path.value.trim();
    if (path === '') return;
    await add(path);
  });
  await load();
}

// Cross-references as links that search for the word they name.
function seeAlsoLinks(words) {
  if (!Array.isArray(words) || words.length === 0) return null;
  const links = [];
  for (const word of words) {
    if (typeof word !== 'string' || word === '') continue;
    if (links.length) links.push('、');
    links.push(el('a', { href: `#/?q=${encodeURIComponent(word)}`, text: word }));
  }
  return el('p', { class: 'see-also' }, '参见：', ...links);
}

// Below an entry: every other source's entry of that name, each in a section
// of its own, labelled, in the order lookups answer.
async function otherArticles(root, term) {
  let reply;
  try {
    reply = await api('POST', '/v1/lookup', { text: term.term });
  } catch {
    return;  // the entry itself is shown; the others are a bonus
  }
  if (!root.isConnected) return;
  const others = (reply.entries || []).filter((entry) => String(entry.id) !== String(term.id));
  const box = slot(root, 'others');
  box.replaceChildren(...others.map((entry) => {
    const label = entry.dictionary ? entry.dictionary.name : (SOURCES[entry.origin] || entry.origin);
    const fields = el('dl', { class: 'fields' });
    for (const [key, labelText] of FIELDS) {
      const value = fieldValue(entry.fields, key, labelText);
      if (value) fields.append(el('dt', { text: labelText }), el('dd', { text: value }));
    }
    if (entry.phonetic) fields.prepend(el('dt', { text: '读音' }), el('dd', { text: entry.phonetic }));
    return el('section', { class: 'article', 'aria-label': label },
      el('h2', {}, el('a', { href: `#/term/${entry.id}`, text: entry.term }), ' ', el('span', { class: 'lang', text: label })),
      fields, seeAlsoLinks(entry.seeAlso));
  }));
  if (reply.entriesTruncated) box.append(el('p', { class: 'hint', text: '还有更多来源的解释没有列出。' }));
}
