<?php
// The benchmark's peer: getvideos answered by PHP's ext/soap (non-WSDL) over the same SQLite
// file tavilon-catalogue serves, with the same statements (the full-text index, the five
// orders, the kept total). CATALOGUE_DB names the file.
$db = new PDO('sqlite:' . getenv('CATALOGUE_DB'));
$db->setAttribute(PDO::ATTR_ERRMODE, PDO::ERRMODE_EXCEPTION);

function getvideos($start, $limit, $search, $type) {
    global $db;
    $orders = array('id DESC', 'plays DESC, id DESC', 'rating DESC, id DESC', 'year DESC, id DESC',
                    'title_key, id');
    if ($type < 0 || $type > 4)
        throw new SoapFault('Client', 'The sort order is unknown');
    $start = max(0, (int)$start);
    $limit = min(max(0, (int)$limit), 500);
    preg_match_all('/[\p{L}\p{N}\p{Mn}]+/u', $search, $m);
    $words = array_slice($m[0], 0, 16);
    $where = '';
    $args = array();
    if (count($words) > 0) {
        $terms = array();
        foreach ($words as $w)
            $terms[] = '"' . str_replace('"', '""', $w) . '"*';
        $match = implode(' ', $terms);
        $q = $db->prepare('SELECT count(*) FROM videos_fts WHERE videos_fts MATCH ?');
        $q->execute(array($match));
        $total = (int)$q->fetchColumn();
        $where = ' WHERE id IN (SELECT rowid FROM videos_fts WHERE videos_fts MATCH ?)';
        $args[] = $match;
    } else {
        $total = (int)$db->query('SELECT videos FROM catalogue_stats WHERE id = 1')->fetchColumn();
    }
    $answer = array((string)$total);
    $q = $db->prepare('SELECT id, title, imdbid, quality, lang FROM videos' . $where .
                      ' ORDER BY ' . $orders[$type] . ' LIMIT ? OFFSET ?');
    $args[] = $limit;
    $args[] = $start;
    $q->execute($args);
    foreach ($q->fetchAll(PDO::FETCH_NUM) as $row) {
        $description = implode('@@@', array_filter(array($row[3], $row[4]), 'strlen'));
        $answer[] = $row[1] . '@@@' . $row[2] . '@@@' . $row[0] . '@@@' . $description;
    }
    return $answer;
}

$server = new SoapServer(null, array('uri' => 'urn:tavilon', 'encoding' => 'UTF-8'));
$server->addFunction('getvideos');
$server->handle();
