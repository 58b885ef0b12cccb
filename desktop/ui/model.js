// The 状态 page's model form: the settings shown from GET /v1/model, saved
// through PUT /v1/model (in use at once), and tried through POST
// /v1/model/try. Loaded before app.js, whose helpers (api, slot) it calls
// once the page runs. `root` is the page's own section element.
'use strict';

// What the model form asks for: the settings as PUT /v1/model and the try
// take them. An empty key field keeps the key already saved.
function modelSettings(form) {
  const settings = {
    baseUrl: form.elements.baseUrl.value.trim(),
    model: form.elements.model.value.trim(),
    jsonMode: form.elements.jsonMode.checked,
  };
  if (form.elements.noKey.checked) settings.apiKey = '';
  else if (form.elements.apiKey.value.trim() !== '') settings.apiKey = form.elements.apiKey.value.trim();
  return settings;
}

function showModelSettings(root, settings) {
  const form = root.querySelector('[data-form="model"]');
  slot(root, 'model-file').textContent = settings.file || 'model.json';
  form.elements.baseUrl.value = settings.baseUrl || '';
  form.elements.model.value = settings.model || '';
  form.elements.apiKey.value = '';
  form.elements.noKey.checked = false;
  form.elements.jsonMode.checked = settings.jsonMode !== false;
  slot(root, 'key-hint').textContent = settings.apiKey ? '已保存一个 key（不显示）；留空则保持不变' : '还没有保存 key';
}

async function modelForm(root) {
  const form = root.querySelector('[data-form="model"]');
  const error = slot(root, 'model-error');
  const result = slot(root, 'model-result');
  try {
    showModelSettings(root, await api('GET', '/v1/model'));
  } catch (problem) {
    error.textContent = `读不出模型设置：${problem.message}`;
  }
  const buttons = form.querySelectorAll('button');
  const busy = (on) => buttons.forEach((button) => (button.disabled = on));
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    error.textContent = '';
    result.textContent = '';
    busy(true);
    try {
      const reply = await api('PUT', '/v1/model', modelSettings(form));
      showModelSettings(root, reply);
      result.textContent = reply.warning || `已保存：${reply.model}（${reply.baseUrl}），现在就用它`;
      slot(root, 'model').textContent = reply.configured ? `已配置：${reply.model}（${reply.baseUrl}）` : '未配置';
    } catch (problem) {
      error.textContent = `没有保存：${problem.message}`;
    } finally {
      busy(false);
    }
  });
  form.querySelector('[data-action="try"]').addEventListener('click', async () => {
    error.textContent = '';
    if (!form.reportValidity()) return;
    busy(true);
    result.textContent = '正在问模型一个小问题…';
    try {
      const reply = await api('POST', '/v1/model/try', modelSettings(form));
      result.textContent = `模型回答了，用时 ${reply.ms} 毫秒：${reply.answer}`;
    } catch (problem) {
      result.textContent = '';
      error.textContent = `试用失败：${problem.message}`;
    } finally {
      busy(false);
    }
  });
}
