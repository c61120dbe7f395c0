// The response curve on a canvas, in the response window's colours: a logarithmic frequency
// axis, ±15 dB, grid lines every 6 dB and at each decade.

const fMin = 10;
const fMax = 20000;
const dbSpan = 15;

export function drawResponse(canvas, points) {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const height = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const g = canvas.getContext('2d');
  const x = (f) => (Math.log10(f / fMin) / Math.log10(fMax / fMin)) * width;
  const y = (db) => height / 2 - (db / dbSpan) * (height / 2);
  g.fillStyle = '#000';
  g.fillRect(0, 0, width, height);
  g.strokeStyle = '#5b5b00';
  g.lineWidth = ratio;
  g.beginPath();
  for (let f = 100; f < fMax; f *= 10) {
    g.moveTo(x(f), 0);
    g.lineTo(x(f), height);
  }
  for (let db = -12; db <= 12; db += 6) {
    g.moveTo(0, y(db));
    g.lineTo(width, y(db));
  }
  g.stroke();
  g.fillStyle = '#00ff00';
  g.font = `${12 * ratio}px sans-serif`;
  for (const [f, label] of [[100, '100'], [1000, '1k'], [10000, '10k']])
    g.fillText(label, x(f) + 3 * ratio, height - 4 * ratio);
  for (const db of [-12, -6, 6, 12]) g.fillText(`${db > 0 ? '+' : ''}${db}`, 3 * ratio, y(db) - 3 * ratio);
  canvas.dataset.points = points ? points.length : 0;
  if (!points || points.length === 0) return;
  g.strokeStyle = '#00ff00';
  g.lineWidth = 2 * ratio;
  g.beginPath();
  points.forEach((p, i) => {
    const px = x(Math.min(fMax, Math.max(fMin, p.frequency)));
    const py = y(Math.max(-dbSpan, Math.min(dbSpan, p.db)));
    if (i === 0) g.moveTo(px, py);
    else g.lineTo(px, py);
  });
  g.stroke();
}
