// A live chart of the plugin's memory (bytes in use and peak, from /_host/memory) and of
// its events per second, one point a second over the last two minutes, drawn by uPlot.
const kSampleMs = 1000;
const kPoints = 120;

function bytes(value) {
  if (value === null || value === undefined) return "-";
  if (value >= 1 << 20) return `${(value / (1 << 20)).toFixed(1)} MiB`;
  if (value >= 1 << 10) return `${(value / (1 << 10)).toFixed(1)} KiB`;
  return `${value} B`;
}

// `takeEventCount()` answers the events seen since it was last called.
export function startChart(element, takeEventCount) {
  const data = [[], [], [], []];
  const axis = { stroke: "#aaa", grid: { stroke: "#333" }, ticks: { stroke: "#333" } };
  const chart = new uPlot(
    {
      width: 430,
      height: 200,
      scales: { x: { time: true }, bytes: {}, rate: { range: (u, min, max) => [0, Math.max(1, max)] } },
      series: [
        {},
        { label: "in use", scale: "bytes", stroke: "#7fd67f", width: 2, value: (u, v) => bytes(v) },
        { label: "peak", scale: "bytes", stroke: "#e0b050", dash: [4, 4], value: (u, v) => bytes(v) },
        { label: "events/s", scale: "rate", stroke: "#8cc8ff", width: 1.5 },
      ],
      axes: [
        axis,
        { ...axis, scale: "bytes", size: 70, values: (u, values) => values.map(bytes) },
        { ...axis, scale: "rate", side: 1, grid: { show: false } },
      ],
    },
    data,
    element,
  );

  let last = performance.now();
  async function sample() {
    let memory = null;
    try {
      const response = await fetch("/_host/memory");
      if (response.ok) memory = await response.json();
    } catch {
      // The server is gone: the point is drawn without memory.
    }
    const now = performance.now();
    const rate = takeEventCount() / ((now - last) / 1000);
    last = now;
    data[0].push(Date.now() / 1000);
    data[1].push(memory ? memory.bytesInUse : null);
    data[2].push(memory ? memory.peakBytes : null);
    data[3].push(Math.round(rate * 10) / 10);
    for (const series of data) if (series.length > kPoints) series.shift();
    chart.setData(data);
  }
  sample();
  setInterval(sample, kSampleMs);
  return chart;
}
